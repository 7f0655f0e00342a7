#include "serial/NetworkAddress.h"

#include <string_view>

namespace tarvex {
namespace {

bool ValidPort(std::string_view digits) {
    if (digits.empty() || digits.size() > 5) return false;
    unsigned value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value >= 1 && value <= 65535;
}

}  // namespace

std::string NetworkAddress::Label() const {
    const bool ipv6 = host.find(':') != std::string::npos;
    return (ipv6 ? "[" + host + "]" : host) + ":" + port;
}

std::optional<NetworkAddress> ParseNetworkAddress(const std::string& device) {
    constexpr std::string_view raw = "socket://";
    constexpr std::string_view telnet = "rfc2217://";
    NetworkAddress address;
    std::string_view rest(device);
    if (rest.substr(0, raw.size()) == raw) {
        rest.remove_prefix(raw.size());
    } else if (rest.substr(0, telnet.size()) == telnet) {
        address.kind = NetworkAddress::Kind::Rfc2217;
        rest.remove_prefix(telnet.size());
    } else {
        return std::nullopt;
    }
    // A slash or query after the port (as some tools write) ends the address.
    rest = rest.substr(0, rest.find_first_of("/?"));
    std::string_view host;
    std::string_view port;
    if (!rest.empty() && rest.front() == '[') {
        const size_t close = rest.find(']');
        if (close == std::string_view::npos || close + 1 >= rest.size() || rest[close + 1] != ':') return std::nullopt;
        host = rest.substr(1, close - 1);
        port = rest.substr(close + 2);
    } else {
        const size_t colon = rest.rfind(':');
        if (colon == std::string_view::npos) return std::nullopt;
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
        if (host.find(':') != std::string_view::npos) return std::nullopt;  // IPv6 needs its brackets
    }
    if (host.empty() || !ValidPort(port)) return std::nullopt;
    address.host = std::string(host);
    address.port = std::string(port);
    return address;
}

}  // namespace tarvex
