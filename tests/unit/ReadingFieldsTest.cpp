// What other programs are told of a reading: the fields, their JSON and
// their CSV line, and the feed's address setting.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include <nlohmann/json.hpp>

#include "outputs/CsvLine.h"
#include "outputs/ReadingFields.h"
#include "outputs/ReadingJson.h"
#include "outputs/FeedAddress.h"

namespace tarvex {
namespace {

const std::wstring PREFIX = L"Damaged frame: ";

RowRecord Row(RowKind kind, std::wstring data, std::wstring remark = {}) {
    RowRecord record;
    record.kind = kind;
    record.kilograms = kind == RowKind::Weight ? 1.234 : 9999;  // a mark for the others
    record.time = 1765281600;
    record.desk = "Packing, desk \"3\"";
    record.seq = 42;
    record.cells = {L"   7", std::move(data), L"KG", L"00:01:05", L"12:00:00 12/09/2025", std::move(remark)};
    return record;
}

TEST(ReadingFields, EachKindOfRowSaysWhatItIs) {
    struct Case {
        const char* what;
        RowRecord row;
        std::string json;
    };
    const std::vector<Case> cases = {
        {"a weight", Row(RowKind::Weight, L"  1.2340"),
         R"({"desk":"Packing, desk \"3\"","seq":42,"number":7,"kind":"weight","kg":1.234,"shown":"1.2340",)"
         R"("unit":"KG","time":"T","duration":"00:01:05","remark":null,"bytes":null})"},
        {"an overweight mark", Row(RowKind::Overweight, L"Overweight"),
         R"({"desk":"Packing, desk \"3\"","seq":42,"number":7,"kind":"overweight","kg":null,"shown":"Overweight",)"
         R"("unit":"KG","time":"T","duration":"00:01:05","remark":null,"bytes":null})"},
        {"a damaged frame with every byte", Row(RowKind::Error, L"Error", PREFIX + std::wstring(L"\x41\x00\x7f\xe9\xff", 5)),
         R"({"desk":"Packing, desk \"3\"","seq":42,"number":7,"kind":"error","kg":null,"shown":"Error",)"
         R"("unit":"KG","time":"T","duration":"00:01:05","remark":"Damaged frame:","bytes":"41007fe9ff"})"},
        {"a remark of an earlier run in other words", Row(RowKind::Error, L"错误", L"错误数据：A"),
         R"({"desk":"Packing, desk \"3\"","seq":42,"number":7,"kind":"error","kg":null,"shown":"错误",)"
         R"("unit":"KG","time":"T","duration":"00:01:05","remark":"错误数据：A","bytes":""})"},
    };
    for (const Case& c : cases) {
        ReadingFields fields = FieldsOf(c.row, PREFIX);
        fields.time = "T";  // the clock's own test is below
        EXPECT_EQ(ReadingJson(fields), c.json) << c.what;
    }
}

TEST(ReadingFields, ACsvLineQuotesWhatHoldsTheSeparatorOrAQuote) {
    ReadingFields fields = FieldsOf(Row(RowKind::Weight, L"1.2340"), PREFIX);
    fields.time = "2025-12-09T12:00:00+00:00";
    EXPECT_EQ(CsvHeaderLine(','), "desk,seq,number,kind,kg,shown,unit,time,duration,remark,bytes\r\n");
    EXPECT_EQ(CsvLine(fields, ','),
              "\"Packing, desk \"\"3\"\"\",42,7,weight,1.234,1.2340,KG,2025-12-09T12:00:00+00:00,00:01:05,,\r\n");
    EXPECT_EQ(CsvLine(fields, ';'),
              "\"Packing, desk \"\"3\"\"\";42;7;weight;1.234;1.2340;KG;2025-12-09T12:00:00+00:00;00:01:05;;\r\n");
    // Read back as the next start reads the file's last line.
    for (const char separator : {',', ';'}) {
        std::string line = CsvLine(fields, separator);
        line.resize(line.size() - 2);
        const std::vector<std::string> read = CsvFields(line, separator);
        ASSERT_EQ(read.size(), 11u);
        EXPECT_EQ(read[0], fields.desk);
        EXPECT_EQ(read[1], "42");
    }
}

#ifndef _WIN32
TEST(ReadingFields, TheTimeCarriesTheLocalOffset) {
    const char* before = std::getenv("TZ");
    const std::string saved = before ? before : "";
    struct Case {
        const char* zone;
        const char* time;
    };
    // 2025-12-09 12:00:00 universal time, in zones east and west of it.
    for (const Case& c : {Case{"UTC0", "2025-12-09T12:00:00+00:00"}, Case{"IST-5:30", "2025-12-09T17:30:00+05:30"},
                          Case{"NST3:30", "2025-12-09T08:30:00-03:30"}, Case{"XYZ-14", "2025-12-10T02:00:00+14:00"}}) {
        setenv("TZ", c.zone, 1);
        tzset();
        EXPECT_EQ(IsoLocalTime(1765281600), c.time) << c.zone;
    }
    if (before) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
    tzset();
}
#endif

TEST(FeedAddress, OnlyAnAddressWithAPortIsTakenAndLoopbackIsKnown) {
    struct Case {
        const char* text;
        bool valid;
        const char* host;
        int port;
        bool loopback;
    };
    for (const Case& c : {Case{"127.0.0.1:8787", true, "127.0.0.1", 8787, true},
                          Case{"localhost:1", true, "localhost", 1, true},
                          Case{"[::1]:65535", true, "::1", 65535, true},
                          Case{"127.10.0.3:80", true, "127.10.0.3", 80, true},
                          Case{"0.0.0.0:8787", true, "0.0.0.0", 8787, false},
                          Case{"192.168.1.20:8787", true, "192.168.1.20", 8787, false},
                          Case{"[::]:8787", true, "::", 8787, false},
                          Case{"127.0.0.1.evil.example:80", true, "127.0.0.1.evil.example", 80, false},
                          Case{"8787", false, "", 0, false},
                          Case{"127.0.0.1:", false, "", 0, false},
                          Case{"127.0.0.1:0", false, "", 0, false},
                          Case{"127.0.0.1:65536", false, "", 0, false},
                          Case{"127.0.0.1:80x", false, "", 0, false},
                          Case{"::1:8787", false, "", 0, false},
                          Case{"[::1]8787", false, "", 0, false},
                          Case{":8787", false, "", 0, false}}) {
        std::string host;
        int port = 0;
        ASSERT_EQ(ParseFeedAddress(c.text, host, port), c.valid) << c.text;
        if (!c.valid) continue;
        EXPECT_EQ(host, c.host) << c.text;
        EXPECT_EQ(port, c.port) << c.text;
        EXPECT_EQ(IsLoopbackHost(host), c.loopback) << c.text;
    }
}

}  // namespace
}  // namespace tarvex
