// The Excel 97-2003 writer checked by a record walker of our own: readers
// forgive wrong counts and offsets that Excel may not, so every count and
// offset is recomputed here from the records themselves.

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "export/BiffWorkbook.h"
#include "export/CompoundFile.h"

using namespace tarvex;

namespace {

struct Record {
    size_t position;  // of its 4-byte header in the stream
    uint16_t id;
    std::vector<uint8_t> data;
};

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) { return U16(p) | (static_cast<uint32_t>(U16(p + 2)) << 16); }

std::vector<Record> Walk(const std::vector<uint8_t>& stream) {
    std::vector<Record> records;
    size_t at = 0;
    while (at + 4 <= stream.size()) {
        const uint16_t id = U16(&stream[at]);
        const uint16_t length = U16(&stream[at + 2]);
        EXPECT_LE(length, BIFF_MAX_RECORD) << "record " << std::hex << id;
        EXPECT_LE(at + 4 + length, stream.size());
        records.push_back({at, id, std::vector<uint8_t>(stream.begin() + static_cast<long>(at) + 4,
                                                        stream.begin() + static_cast<long>(at + 4 + length))});
        at += 4u + length;
    }
    EXPECT_EQ(at, stream.size());
    return records;
}

// The shared strings decoded across SST and CONTINUE records, with where each began.
struct SharedStrings {
    uint32_t total = 0, unique = 0;
    std::vector<std::u16string> strings;
    std::vector<std::pair<size_t, size_t>> starts;  // stream position, offset in its record
};

SharedStrings ReadSst(const std::vector<Record>& records) {
    SharedStrings sst;
    size_t i = 0;
    while (records[i].id != 0x00FC) ++i;
    sst.total = U32(&records[i].data[0]);
    sst.unique = U32(&records[i].data[4]);
    size_t at = 8;
    for (uint32_t s = 0; s < sst.unique; ++s) {
        if (at >= records[i].data.size()) {
            ++i;
            at = 0;
            EXPECT_EQ(records[i].id, 0x003C);
        }
        sst.starts.emplace_back(records[i].position + 4 + at, 4 + at);
        EXPECT_LE(at + 3, records[i].data.size()) << "a string header split from its record";
        const uint16_t count = U16(&records[i].data[at]);
        bool wide = records[i].data[at + 2] & 1;
        at += 3;
        std::u16string text;
        while (text.size() < count) {
            if (at >= records[i].data.size()) {
                ++i;
                EXPECT_EQ(records[i].id, 0x003C);
                wide = records[i].data[0] & 1;
                at = 1;
            }
            if (wide) {
                text.push_back(static_cast<char16_t>(U16(&records[i].data[at])));
                at += 2;
            } else {
                text.push_back(records[i].data[at++]);
            }
        }
        sst.strings.push_back(text);
    }
    return sst;
}

BiffSheet SampleSheet(int rows, const std::vector<std::wstring>& remarks) {
    BiffSheet s;
    s.columns = {{L"No.", 60}, {L"Weight", 80}, {L"Unit", 60}, {L"Duration", 90}, {L"Time", 140}, {L"Remarks", 200}};
    s.rows = rows;
    s.cell = [&remarks](int row, int col) {
        BiffCell c;
        switch (col) {
            case 0: c.kind = BiffCell::Kind::Number; c.value = row + 1; break;
            case 1: c.kind = BiffCell::Kind::Number; c.value = 0.5 + row; c.numberFormat = row % 2 ? "0.0000" : "0.000"; break;
            case 2: c.kind = BiffCell::Kind::Text; c.text = L"KG"; break;
            case 3: c.kind = BiffCell::Kind::TimeOfDay; c.value = TimeOfDaySerial(0, 1, row % 60); break;
            case 4: c.kind = BiffCell::Kind::DateTime; c.value = SpreadsheetSerial(2026, 12, 7, 21, 19, 24); break;
            default:
                if (!remarks.empty()) {
                    c.kind = BiffCell::Kind::Text;
                    c.text = remarks[static_cast<size_t>(row) % remarks.size()];
                }
        }
        return c;
    };
    return s;
}

// Every count and offset a reader could trip over, recomputed.
void CheckWorkbook(const std::vector<uint8_t>& stream, int rows, int columns) {
    const std::vector<Record> records = Walk(stream);
    std::map<size_t, const Record*> at;
    for (const Record& r : records) at[r.position] = &r;
    size_t xfCount = 0, labels = 0;
    const Record* index = nullptr;
    const Record* boundSheet = nullptr;
    const Record* extSst = nullptr;
    std::vector<size_t> dbCells;
    size_t defColWidth = 0;
    for (const Record& r : records) {
        if (r.id == 0x00E0) ++xfCount;
        if (r.id == 0x00FD) ++labels;
        if (r.id == 0x020B) index = &r;
        if (r.id == 0x0085) boundSheet = &r;
        if (r.id == 0x00FF) extSst = &r;
        if (r.id == 0x00D7) dbCells.push_back(r.position);
        if (r.id == 0x0055) defColWidth = r.position;
        if (r.id == 0x00FD || r.id == 0x0203 || r.id == 0x027E) {
            const uint16_t xf = U16(&r.data[4]);
            EXPECT_GE(xf, 15) << "a cell on a style XF";
        }
        if (r.id == 0x0031) {
            EXPECT_EQ(U16(&r.data[2]) & 1, U16(&r.data[6]) == 700 ? 1 : 0) << "bold in both places";
        }
        if (r.id == 0x0200) {
            EXPECT_EQ(U32(&r.data[4]), static_cast<uint32_t>(rows + 1));
            EXPECT_EQ(U16(&r.data[10]), columns);
        }
    }
    for (const Record& r : records) {
        if (r.id == 0x00FD || r.id == 0x0203 || r.id == 0x027E) {
            EXPECT_LT(U16(&r.data[4]), xfCount);
        }
    }

    ASSERT_TRUE(boundSheet && index && extSst);
    const Record* sheetBof = at.at(U32(&boundSheet->data[0]));
    EXPECT_EQ(sheetBof->id, 0x0809);
    EXPECT_EQ(U16(&sheetBof->data[2]), 0x0010);

    const SharedStrings sst = ReadSst(records);
    EXPECT_EQ(sst.total, labels);
    const uint16_t bucket = U16(&extSst->data[0]);
    ASSERT_EQ(extSst->data.size(), 2 + 8 * ((sst.unique + bucket - 1) / bucket));
    for (size_t k = 0; 2 + 8 * k < extSst->data.size(); ++k) {
        EXPECT_EQ(U32(&extSst->data[2 + 8 * k]), sst.starts[k * bucket].first);
        EXPECT_EQ(U16(&extSst->data[6 + 8 * k]), sst.starts[k * bucket].second);
    }

    EXPECT_EQ(U32(&index->data[8]), static_cast<uint32_t>(rows + 1));
    EXPECT_EQ(U32(&index->data[12]), defColWidth);
    ASSERT_EQ(index->data.size(), 16 + 4 * dbCells.size());
    for (size_t b = 0; b < dbCells.size(); ++b) {
        EXPECT_EQ(U32(&index->data[16 + 4 * b]), dbCells[b]);
        // Each DBCELL points back at its block's first ROW, and from there to
        // each row's first cell.
        const Record* db = at.at(dbCells[b]);
        const size_t firstRow = db->position - U32(&db->data[0]);
        ASSERT_EQ(at.at(firstRow)->id, 0x0208);
        size_t cell = firstRow + 20;
        for (size_t k = 0; 4 + 2 * k < db->data.size(); ++k) {
            cell += U16(&db->data[4 + 2 * k]);
            const Record* first = at.at(cell);
            EXPECT_TRUE(first->id == 0x00FD || first->id == 0x0203 || first->id == 0x027E);
            EXPECT_EQ(U16(&first->data[0]), b * 32 + k) << "the row's first cell";
            EXPECT_EQ(U16(&first->data[2]), 0);
        }
    }
}

}  // namespace

TEST(BiffWorkbookTest, SmallAndFullTablesHaveExactCountsAndOffsets) {
    const std::vector<std::wstring> remarks = {L"", L"Damaged frame:\u2407 A", L"错误数据：\x01", L""};
    for (const int rows : {0, 1, 31, 32, 33, 65001}) {
        SCOPED_TRACE(rows);
        CheckWorkbook(BuildBiffWorkbook(SampleSheet(rows, remarks)), rows, 6);
    }
}

TEST(BiffWorkbookTest, TheWalkerNoticesAnOffsetOrCountOffByOne) {
    // The walker is the only check of these fields (readers forgive them):
    // each is bent by one in a good workbook, and the walker must complain.
    const std::vector<uint8_t> good = BuildBiffWorkbook(SampleSheet(40, {L"a", L"b"}));
    const std::vector<Record> records = Walk(good);
    const auto fieldOf = [&records](uint16_t id, size_t offset) {
        for (const Record& r : records)
            if (r.id == id) return r.position + 4 + offset;
        throw std::logic_error("no such record");
    };
    const struct {
        const char* field;
        size_t position;
    } fields[] = {
        {"BOUNDSHEET's sheet offset", fieldOf(0x0085, 0)},
        {"SST's total count", fieldOf(0x00FC, 0)},
        {"EXTSST's first string offset", fieldOf(0x00FF, 2)},
        {"INDEX's first DBCELL offset", fieldOf(0x020B, 16)},
        {"DBCELL's offset back to its first ROW", fieldOf(0x00D7, 0)},
        {"DBCELL's offset to the second row's first cell", fieldOf(0x00D7, 6)},
        {"DIMENSIONS's row count", fieldOf(0x0200, 4)},
    };
    for (const auto& f : fields) {
        std::vector<uint8_t> bent = good;
        ++bent[f.position];
        ::testing::TestPartResultArray complaints;
        {
            ::testing::ScopedFakeTestPartResultReporter reporter(
                ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &complaints);
            try {
                CheckWorkbook(bent, 40, 6);
            } catch (const std::out_of_range&) {
                // Pointing where no record begins is a complaint too.
                ADD_FAILURE() << "no record there";
            }
        }
        EXPECT_GT(complaints.size(), 0) << f.field << " bent by one went unnoticed";
    }
}

TEST(BiffWorkbookTest, SharedStringsSplitOnlyBetweenWholeCharacters) {
    // Lengths around the record boundary, Latin, CJK and surrogate pairs.
    std::mt19937 random(7);
    std::vector<std::wstring> remarks;
    const std::u32string pieces[] = {U"x", U"中", U"\U0001F600", U"é"};
    for (int i = 0; i < 400; ++i) {
        std::wstring text;
        const int length = 2700 + static_cast<int>(random() % 1400);
        for (int k = 0; k < length; ++k) {
            const char32_t c = pieces[random() % (i % 3 == 0 ? 1 : 4)][0];
#if WCHAR_MAX <= 0xFFFF
            if (c > 0xFFFF) {
                text.push_back(static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10)));
                text.push_back(static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
                continue;
            }
#endif
            text.push_back(static_cast<wchar_t>(c));
        }
        remarks.push_back(text);
    }
    const std::vector<uint8_t> stream = BuildBiffWorkbook(SampleSheet(400, remarks));
    CheckWorkbook(stream, 400, 6);
    const SharedStrings sst = ReadSst(Walk(stream));
    size_t found = 0;
    for (const std::u16string& s : sst.strings) {
        for (size_t k = 0; k < s.size(); ++k) {
            // No lone half of a pair: a split never came between them.
            if ((s[k] & 0xFC00) == 0xD800) {
                EXPECT_TRUE(k + 1 < s.size() && (s[k + 1] & 0xFC00) == 0xDC00);
            }
        }
        found += s.size() > 2000;
    }
    EXPECT_EQ(found, std::set<std::wstring>(remarks.begin(), remarks.end()).size());
}

TEST(BiffWorkbookTest, RkTakesOnlyValuesItGivesBackExactly) {
    struct Case {
        double value;
        bool fits;
    };
    const Case cases[] = {{1, true},          {65001, true},     {-536870912, true}, {536870913, false},
                          {12.34, true},      {0.5, true},       {1.0 / 3, false},   {46363.88847222222, false},
                          {-0.01, true},      {123456789.5, false}};
    for (const Case& c : cases) {
        uint32_t rk = 0;
        EXPECT_EQ(EncodeRk(c.value, rk), c.fits) << c.value;
        if (!c.fits) continue;
        double back = (rk & 2) ? static_cast<double>(static_cast<int32_t>(rk) >> 2) : 0;
        if (!(rk & 2)) {
            const uint64_t bits = static_cast<uint64_t>(rk & ~3u) << 32;
            std::memcpy(&back, &bits, sizeof back);
        }
        if (rk & 1) back /= 100;
        EXPECT_EQ(back, c.value);
    }
}

TEST(BiffWorkbookTest, SerialsCountThe1900LeapDay) {
    EXPECT_EQ(SpreadsheetSerial(1900, 1, 1, 0, 0, 0), 1);
    EXPECT_EQ(SpreadsheetSerial(1900, 2, 28, 0, 0, 0), 59);
    EXPECT_EQ(SpreadsheetSerial(1900, 3, 1, 0, 0, 0), 61);
    EXPECT_EQ(SpreadsheetSerial(2024, 2, 29, 0, 0, 0), 45351);
    EXPECT_DOUBLE_EQ(SpreadsheetSerial(2026, 12, 7, 12, 0, 0), 46363.5);
    EXPECT_DOUBLE_EQ(TimeOfDaySerial(6, 0, 0), 0.25);
}

TEST(CompoundFileTest, SectorCountsCoverThemselvesAtEveryBoundary) {
    // Streams below, at and above the mini-stream cutoff, and sizes that need
    // 108, 109 and 110 FAT sectors (the last one needs a DIFAT sector).
    const size_t perFat = 128 * 512;
    for (const size_t bytes : {size_t{0}, size_t{4095}, size_t{4096}, size_t{4097}, 107 * perFat,
                               108 * perFat - 3 * 512, 109 * perFat - 3 * 512, 109 * perFat, 236 * perFat}) {
        SCOPED_TRACE(bytes);
        const CompoundLayout l = PlanCompoundFile(bytes);
        EXPECT_GE(l.streamBytes, CFB_MINI_CUTOFF);
        EXPECT_EQ(l.streamSectors, (l.streamBytes + 511) / 512);
        EXPECT_GE(l.fatSectors * 128, l.TotalSectors());
        EXPECT_LT((l.fatSectors - 1) * 128, l.TotalSectors());
        EXPECT_EQ(l.difatSectors, l.fatSectors <= 109 ? 0 : (l.fatSectors - 109 + 126) / 127);
        std::vector<uint8_t> file;
        EmitCompoundFile(std::vector<uint8_t>(bytes, 0x55),
                         [&file](const uint8_t* p, size_t n) { file.insert(file.end(), p, p + n); });
        EXPECT_EQ(file.size(), 512 * (1 + l.TotalSectors()));
        // The header lists the FAT's first sectors, then the first DIFAT sector.
        uint32_t firstFat;
        std::memcpy(&firstFat, &file[76], 4);
        EXPECT_EQ(firstFat, l.streamSectors + 1);
        uint32_t difatStart;
        std::memcpy(&difatStart, &file[68], 4);
        EXPECT_EQ(difatStart, l.difatSectors ? l.streamSectors + 1 + l.fatSectors : 0xFFFFFFFEu);
    }
}
