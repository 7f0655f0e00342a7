// The INI reader and writer on arbitrary files. Input: a line "section",
// a line "key", a line "value", then the file's bytes. A written key reads
// back; every other key of the file reads as before; no read is longer than
// 499 characters.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "text/ProfileFile.h"
#include "text/TextCodec.h"

namespace {


std::string_view NextLine(std::string_view& rest) {
    const size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    return line;
}

bool Blank(wchar_t c) { return c == L' ' || c == L'\t'; }

// A name or value the file format can hold on one line, as a read gives it.
bool Usable(const std::wstring& text, bool isName) {
    if (text.empty()) return !isName;
    if (Blank(text.front()) || Blank(text.back())) return false;
    for (const wchar_t c : text)
        if (c < 0x20 || c == 0x7F || c == 0xFFFD || (isName && (c == L'=' || c == L']' || c == L'[' || c == L';')))
            return false;
    return text.size() <= tarvex::PROFILE_MAX_TEXT;
}

// Every "name=" line of the file, paired with the section it sits in.
std::vector<std::pair<std::wstring, std::wstring>> KeysIn(const std::wstring& text) {
    std::vector<std::pair<std::wstring, std::wstring>> keys;
    std::wstring section;
    size_t at = 0;
    while (at <= text.size()) {
        const size_t end = text.find(L'\n', at);
        std::wstring line = text.substr(at, end == std::wstring::npos ? std::wstring::npos : end - at);
        at = end == std::wstring::npos ? text.size() + 1 : end + 1;
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        if (line.size() > 1 && line.front() == L'[' && line.find(L']') != std::wstring::npos) {
            section = line.substr(1, line.find(L']') - 1);
        } else if (const size_t eq = line.find(L'='); eq != std::wstring::npos && eq > 0) {
            keys.emplace_back(section, line.substr(0, eq));
        }
    }
    return keys;
}

std::wstring Folded(std::wstring text) {
    for (wchar_t& c : text)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return text;
}

}  // namespace

using tarvex::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarvex;
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    const std::wstring section = WideFromUtf8(NextLine(rest));
    const std::wstring key = WideFromUtf8(NextLine(rest));
    const std::wstring value = WideFromUtf8(NextLine(rest));
    if (!Usable(section, true) || !Usable(key, true) || !Usable(value, false)) return 0;

    // In memory: the rules a file read and write follow, thousands of times a
    // second (the file calls around them are a thin, tested wrapper).
    const CProfileText file(rest);
    const auto others = KeysIn(WideFromUtf8(rest));
    std::vector<std::wstring> before;
    for (const auto& [s, k] : others) {
        before.push_back(file.Find(s, k).value_or(std::wstring()));
        Check(before.back().size() <= PROFILE_MAX_TEXT);
    }
    const CProfileText written(WithProfileText(rest, section, key, value));
    Check(written.Find(section, key) == value);
    for (size_t i = 0; i < others.size(); ++i) {
        const auto& [s, k] = others[i];
        if (Folded(s) == Folded(section) && Folded(k) == Folded(key)) continue;
        Check(written.Find(s, k).value_or(std::wstring()) == before[i]);
    }
    return 0;
}
