#include "outputs/FeedAddress.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace tarvex {
namespace {

bool IsIpv4Loopback(const std::string& host) {
    int parts = 0;
    size_t at = 0;
    while (at <= host.size()) {
        const size_t end = std::min(host.find('.', at), host.size());
        unsigned value = 256;
        const auto [ptr, error] = std::from_chars(host.data() + at, host.data() + end, value);
        if (error != std::errc() || ptr != host.data() + end || end == at || value > 255) return false;
        if (parts == 0 && value != 127) return false;
        ++parts;
        at = end + 1;
    }
    return parts == 4;
}

}  // namespace

bool ParseFeedAddress(const std::string& text, std::string& host, int& port) {
    size_t colon;
    if (text.starts_with('[')) {
        const size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') return false;
        host = text.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = text.rfind(':');
        if (colon == std::string::npos || text.find(':') != colon) return false;
        host = text.substr(0, colon);
    }
    if (host.empty() || host.find_first_of(" \t/") != std::string::npos) return false;
    const char* first = text.data() + colon + 1;
    const char* last = text.data() + text.size();
    const auto [end, error] = std::from_chars(first, last, port);
    return error == std::errc() && end == last && first != last && port >= 1 && port <= 65535;
}

bool IsLoopbackHost(const std::string& host) {
    std::string lower;
    for (const char c : host) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower == "localhost" || lower == "::1" || IsIpv4Loopback(lower);
}

}  // namespace tarvex
