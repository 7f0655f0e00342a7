#include "text/TextCodec.h"

#include <cstdint>

namespace tarvex {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendCodePoint(std::wstring& out, char32_t cp) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
            return;
        }
    }
    out.push_back(static_cast<wchar_t>(cp));
}

// Reads one code point from wide text, joining UTF-16 surrogates.
char32_t NextCodePoint(std::wstring_view text, size_t& i) {
    char32_t cp = static_cast<char32_t>(text[i++]);
    if (cp >= 0xD800 && cp <= 0xDBFF && i < text.size()) {
        char32_t low = static_cast<char32_t>(text[i]);
        if (low >= 0xDC00 && low <= 0xDFFF) {
            ++i;
            return 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
    }
    if (cp >= 0xD800 && cp <= 0xDFFF) return kReplacement;
    return cp > 0x10FFFF ? kReplacement : cp;
}

}  // namespace

std::wstring WideFromUtf8(std::string_view bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        const auto b0 = static_cast<uint8_t>(bytes[i]);
        if (b0 < 0x80) {
            out.push_back(static_cast<wchar_t>(b0));
            ++i;
            continue;
        }
        int extra = 0;
        char32_t cp = 0;
        char32_t min = 0;
        if ((b0 & 0xE0) == 0xC0) { extra = 1; cp = b0 & 0x1F; min = 0x80; }
        else if ((b0 & 0xF0) == 0xE0) { extra = 2; cp = b0 & 0x0F; min = 0x800; }
        else if ((b0 & 0xF8) == 0xF0) { extra = 3; cp = b0 & 0x07; min = 0x10000; }
        else { AppendCodePoint(out, kReplacement); ++i; continue; }
        // A sequence cut short, by the end of the text or by another byte,
        // costs its lead byte alone: decoding goes on right after it.
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            if (i + k >= bytes.size()) { ok = false; break; }
            const auto b = static_cast<uint8_t>(bytes[i + k]);
            if ((b & 0xC0) != 0x80) { ok = false; break; }
            cp = (cp << 6) | (b & 0x3F);
        }
        if (!ok || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            AppendCodePoint(out, kReplacement);
            ++i;
            continue;
        }
        AppendCodePoint(out, cp);
        i += extra + 1;
    }
    return out;
}

std::string Utf8FromWide(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const char32_t cp = NextCodePoint(text, i);
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::wstring WideFromUtf16Le(std::string_view bytes) {
    std::wstring units;
    units.reserve(bytes.size() / 2);
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto lo = static_cast<uint8_t>(bytes[i]);
        const auto hi = static_cast<uint8_t>(bytes[i + 1]);
        units.push_back(static_cast<wchar_t>(lo | (hi << 8)));
    }
    if constexpr (sizeof(wchar_t) == 2) return units;
    std::wstring out;
    out.reserve(units.size());
    size_t i = 0;
    while (i < units.size()) AppendCodePoint(out, NextCodePoint(units, i));
    return out;
}

std::string Utf16LeFromWide(std::wstring_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    auto put = [&out](char32_t unit) {
        out.push_back(static_cast<char>(unit & 0xFF));
        out.push_back(static_cast<char>((unit >> 8) & 0xFF));
    };
    size_t i = 0;
    while (i < text.size()) {
        char32_t cp = NextCodePoint(text, i);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(0xD800 + (cp >> 10));
            put(0xDC00 + (cp & 0x3FF));
        } else {
            put(cp);
        }
    }
    return out;
}

std::filesystem::path PathFromWide(const std::wstring& text) {
#ifdef _WIN32
    return std::filesystem::path(text);
#else
    return std::filesystem::path(Utf8FromWide(text));
#endif
}

std::wstring WideFromPath(const std::filesystem::path& path) {
#ifdef _WIN32
    return path.wstring();
#else
    return WideFromUtf8(path.native());
#endif
}

}  // namespace tarvex
