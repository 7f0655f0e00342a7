#pragma once
// Hands a written workbook and what it should hold to a reader no one here
// wrote (openpyxl under Debian's python3) and reports what differs.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"
#include "text/TextCodec.h"

namespace tarvex::test {

inline std::string JsonString(const std::wstring& text) {
    std::string out = "\"";
    for (const char16_t unit : [&] {
             std::u16string units;
             const std::string le = Utf16LeFromWide(text);
             for (size_t i = 0; i + 1 < le.size(); i += 2)
                 units.push_back(static_cast<char16_t>(static_cast<uint8_t>(le[i]) |
                                                       (static_cast<uint8_t>(le[i + 1]) << 8)));
             return units;
         }()) {
        if (unit >= 0x20 && unit < 0x7F && unit != '"' && unit != '\\') {
            out.push_back(static_cast<char>(unit));
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(unit));
            out += buf;
        }
    }
    return out + "\"";
}

struct ExpectedWorkbook {
    std::vector<std::wstring> headers;
    std::vector<int> widths;
    std::vector<std::vector<std::wstring>> rows;
};

// Empty when the workbook holds what was expected; otherwise what differs.
inline std::string CheckWorkbook(const std::filesystem::path& workbook, const ExpectedWorkbook& e) {
    TempDir dir;
    std::string json = "{\"headers\":[";
    for (size_t i = 0; i < e.headers.size(); ++i) json += (i ? "," : "") + JsonString(e.headers[i]);
    json += "],\"widths\":[";
    for (size_t i = 0; i < e.widths.size(); ++i) json += (i ? "," : "") + std::to_string(e.widths[i]);
    json += "],\"rows\":[";
    for (size_t r = 0; r < e.rows.size(); ++r) {
        json += r ? ",[" : "[";
        for (size_t c = 0; c < e.rows[r].size(); ++c) json += (c ? "," : "") + JsonString(e.rows[r][c]);
        json += "]";
    }
    json += "]}";
    const auto expected = dir.Write("expected.json", json);
    const std::string command = "/usr/bin/python3 '" TARVEX_TESTS_DIR "/integration/check_workbook.py' '" +
                                workbook.string() + "' '" + expected.string() + "' 2>&1";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return "could not run the workbook reader";
    std::string output;
    char buf[512];
    while (std::fgets(buf, sizeof buf, pipe)) output += buf;
    const int status = ::pclose(pipe);
    if (status != 0 && output.empty()) output = "the workbook reader failed";
    return status == 0 ? std::string() : output;
}

}  // namespace tarvex::test
