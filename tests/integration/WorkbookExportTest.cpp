// The workbook writer, read back by openpyxl.

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <tuple>

#include <cstdlib>

#include "tests/support/RecordingHosts.h"
#include "weighing/WeightText.h"
#include "export/TableCells.h"
#include "tests/integration/WorkbookCheck.h"
#include "export/WorkbookExport.h"

namespace tarvex::test {
namespace {

const std::vector<std::wstring> kHeaders{L"No.", L"Weight", L"Unit", L"Duration", L"Time", L"Remarks"};
const std::vector<int> kPixels{80, 80, 80, 80, 80, 200};

ExportRequest RequestFor(const CMeasurementTable& table, const std::filesystem::path& path,
                         const std::vector<int>& pixels = kPixels) {
    std::vector<ExportColumn> columns;
    for (size_t i = 0; i < kHeaders.size(); ++i) columns.push_back({kHeaders[i], pixels[i]});
    return TableExport(table, WideFromPath(path), std::move(columns));
}

ExpectedWorkbook ExpectedFor(const CMeasurementTable& table, std::vector<int> widths = {13, 13, 13, 13, 13, 33}) {
    ExpectedWorkbook e{kHeaders, std::move(widths), {}};
    for (int r = 0; r < table.RowCount(); ++r) {
        e.rows.emplace_back();
        for (int c = 0; c < COLUMN_COUNT; ++c) e.rows.back().push_back(table.Cell(r, c));
    }
    return e;
}

TEST(HeaderCellName, LetterThenRowOneAndABlank) {
    EXPECT_EQ(GetHeaderCellName(1), "A1 ");
    EXPECT_EQ(GetHeaderCellName(6), "F1 ");
    EXPECT_EQ(GetHeaderCellName(26), "Z1 ");
}

TEST(DefaultName, LocalTimeStamp) {
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(DefaultExportName(1796536080), L"TarvexDataFile-2026-12-06-05-48-00");
    if (old) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
    tzset();
}

TEST(TableCells, NumbersAndTimesAsTheTableShowsThem) {
    using Kind = ExportCell::Kind;
    const struct {
        double kilograms;
        RowKind kind;
        int unit;
        Kind expected;
        double number;
        const char* format;
    } data[] = {
        {1.234, RowKind::Weight, UNIT_KG, Kind::Number, 1.234, "0.0000"},
        {-123.45, RowKind::Weight, UNIT_KG, Kind::Number, -123.45, "0.00"},
        {1234.5678, RowKind::Weight, UNIT_KG, Kind::Number, 1234.5, "0.0"},  // cut as the cell cuts it
        {12345.67, RowKind::Weight, UNIT_KG, Kind::Number, 12345, "0."},
        {123456.7, RowKind::Weight, UNIT_KG, Kind::Number, 123456, ""},
        {12.5, RowKind::Weight, UNIT_LB, Kind::Number, 27.55, "0.000"},
        {0.0, RowKind::Weight, UNIT_KG, Kind::Number, 0, "0.0000"},
        {1.234, RowKind::Weight, UNIT_LBOZ, Kind::Text, 0, ""},
        {0.0, RowKind::Overweight, UNIT_KG, Kind::Text, 0, ""},
    };
    for (const auto& c : data) {
        CMeasurementTable table;
        table.SetUnit(c.unit);
        table.SetWords({L"ERR", L"OVER", L"Bad:"});
        table.Add({0, 0, c.kilograms, 1, c.kind, RemarkKind::None, L""});
        const ExportCell cell = TableCell(table, 0, COLUMN_DATA);
        EXPECT_EQ(cell.kind, c.expected) << c.kilograms << " unit " << c.unit;
        if (c.expected == Kind::Text) {
            EXPECT_EQ(cell.text, table.Cell(0, COLUMN_DATA));
        }
        if (c.expected != Kind::Number) continue;
        EXPECT_DOUBLE_EQ(cell.number, c.number) << c.kilograms;
        EXPECT_EQ(cell.numberFormat, c.format) << c.kilograms;
    }

    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "UTC", 1);
    tzset();
    CMeasurementTable table;
    table.SetWords({L"ERR", L"OVER", L"Bad:"});
    table.Add({1796565787, 90061, 0, 12, RowKind::Error, RemarkKind::FrameBytes, L"AB"});
    table.Add({1796565787, -3725, 1, 13, RowKind::Weight, RemarkKind::None, L""});
    const ExportCell number = TableCell(table, 0, COLUMN_NUMBER);
    EXPECT_EQ(number.kind, Kind::Number);
    EXPECT_EQ(number.number, 12);
    EXPECT_EQ(number.numberFormat, "");
    const ExportCell span = TableCell(table, 0, COLUMN_DURATION);  // whole days dropped
    EXPECT_EQ(span.kind, Kind::TimeOfDay);
    EXPECT_EQ(std::tie(span.moment.hour, span.moment.minute, span.moment.second), std::make_tuple(1, 1, 1));
    const ExportCell negative = TableCell(table, 1, COLUMN_DURATION);
    EXPECT_EQ(negative.kind, Kind::Text);
    EXPECT_EQ(negative.text, L"-1:-2:-5");
    const ExportCell moment = TableCell(table, 0, COLUMN_UPDATE_TIME);
    EXPECT_EQ(moment.kind, Kind::DateTime);
    const CellMoment& m = moment.moment;
    EXPECT_EQ(std::tie(m.year, m.month, m.day, m.hour, m.minute, m.second), std::make_tuple(2026, 12, 6, 14, 3, 7));
    EXPECT_EQ(TableCell(table, 0, COLUMN_EXPLAN).text, L"Bad:AB");
    EXPECT_EQ(TableCell(table, 1, COLUMN_EXPLAN).kind, Kind::Empty);
    if (old) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
    tzset();
}

class WorkbookExportTest : public ::testing::Test {
protected:
    // Weight, overweight and error rows, as the scale sends them.
    void FillMixedTable() {
        f.Feed(WeightFrame(0x08, 1234));
        f.Feed(WeightFrame(0x44, 12345));
        f.Feed({0x3F});
        f.Feed({0x41, 0x02, 0x7F, 0xE9});
        f.Feed({0x41, 0x02, 0x7F, 0xE9});  // error row, with control and non-ASCII bytes
        f.Feed(WeightFrame(0x02, 0xFFFFFF));
        f.Feed(WeightFrame(0x03, 1));       // invalid decimal code
    }
    CoreFixture f;
    TempDir out;
};

TEST_F(WorkbookExportTest, EveryCellInEachUnitReadsBackInBothFormats) {
    FillMixedTable();
    for (const char* extension : {".xls", ".xlsx", ".XLS"}) {
        for (int unit : {UNIT_KG, UNIT_LB, UNIT_LBOZ}) {
            f.core.SwitchUnit(unit);
            const auto path = out.Path() / ("table-" + std::to_string(unit) + extension);
            const ExportResult result = WriteWorkbook(RequestFor(f.core.Table(), path));
            ASSERT_EQ(result.status, ExportStatus::Saved) << WideFromPath(result.message);
            EXPECT_EQ(CheckWorkbook(path, ExpectedFor(f.core.Table())), "") << "unit " << unit << extension;
            EXPECT_FALSE(std::filesystem::exists(path.string() + ".part~"));
        }
    }
}

TEST(WorkbookPath, ATypedNameGetsTheChosenTypesExtensionUnlessItHasOne) {
    const struct {
        const wchar_t* typed;
        const wchar_t* type;
        const wchar_t* saved;
        const wchar_t* shownForOtherType;  // the name once the other type is chosen
    } cases[] = {{L"/d/shift", L".xls", L"/d/shift.xls", L"/d/shift"},
                 {L"/d/shift", L".xlsx", L"/d/shift.xlsx", L"/d/shift"},
                 {L"/d/shift.monday", L".xls", L"/d/shift.monday.xls", L"/d/shift.monday"},
                 {L"/d/t.xls", L".xlsx", L"/d/t.xls", L"/d/t.xls"},
                 {L"/d/t.XLSX", L".xls", L"/d/t.XLSX", L"/d/t.xlsx"},
                 {L"/d/t.xlsx.bak", L".xls", L"/d/t.xlsx.bak.xls", L"/d/t.xlsx.bak"},
                 {L"/d.xls/t", L".xls", L"/d.xls/t.xls", L"/d.xls/t"}};
    for (const auto& c : cases) {
        EXPECT_EQ(WorkbookPathFor(c.typed, c.type), c.saved) << c.typed;
        const std::wstring other = std::wstring(c.type) == L".xls" ? L".xlsx" : L".xls";
        EXPECT_EQ(WorkbookNameForType(c.typed, other), c.shownForOtherType) << c.typed;
    }
}

TEST_F(WorkbookExportTest, EmptyTableGivesTheHeaderOnly) {
    const auto path = out.Path() / "empty.xls";
    ASSERT_EQ(WriteWorkbook(RequestFor(f.core.Table(), path)).status, ExportStatus::Saved);
    EXPECT_EQ(CheckWorkbook(path, ExpectedFor(f.core.Table())), "");
}

TEST_F(WorkbookExportTest, ColumnWidthsFollowTheListColumns) {
    FillMixedTable();
    const auto path = out.Path() / "widths.xls";
    ASSERT_EQ(WriteWorkbook(RequestFor(f.core.Table(), path, {5, 80, 100, 6, 80, 200})).status,
              ExportStatus::Saved);
    EXPECT_EQ(CheckWorkbook(path, ExpectedFor(f.core.Table(), {0, 13, 16, 1, 13, 33})), "");
}

TEST(WorkbookExportFull, Table65001RowsReadsBackEqual) {
    CoreFixture f({-1, 70000});
    const auto frame = WeightFrame(0x08, 1234);
    for (int i = 0; i < 65001; ++i) {
        f.FeedPiece(frame);
        if (i % 1000 == 999) f.now += 1;
    }
    ASSERT_EQ(f.Rows(), 65001);
    TempDir out;
    const auto path = out.Path() / "full.xls";
    ASSERT_EQ(WriteWorkbook(RequestFor(f.core.Table(), path)).status, ExportStatus::Saved);
    EXPECT_EQ(CheckWorkbook(path, ExpectedFor(f.core.Table())), "");
}

TEST_F(WorkbookExportTest, FailuresLeaveNoFileUnderTheName) {
    FillMixedTable();
    const auto notAFolder = out.Write("plain-file", "x");
    ExportResult r = WriteWorkbook(RequestFor(f.core.Table(), notAFolder / "t.xls"));
    EXPECT_EQ(r.status, ExportStatus::SaveFailed);
    EXPECT_FALSE(r.message.empty());

    // A folder where the file should go: the writer succeeds, the move fails.
    std::filesystem::create_directory(out.Path() / "taken.xls");
    r = WriteWorkbook(RequestFor(f.core.Table(), out.Path() / "taken.xls"));
    EXPECT_EQ(r.status, ExportStatus::SaveFailed);
    EXPECT_TRUE(std::filesystem::is_directory(out.Path() / "taken.xls"));
    EXPECT_FALSE(std::filesystem::exists(out.Path() / "taken.xls.part~"));

    // Only the .xlsx writer keeps rows in temporary files.
    ExportRequest noTemp = RequestFor(f.core.Table(), out.Path() / "t.xlsx");
    noTemp.tempFolder = (out.Path() / "no-such-folder").string();
    EXPECT_EQ(WriteWorkbook(noTemp).status, ExportStatus::CouldNotBegin);
    EXPECT_FALSE(std::filesystem::exists(out.Path() / "t.xlsx"));
    EXPECT_FALSE(std::filesystem::exists(out.Path() / "t.xlsx.part~"));

    // More rows than an Excel 97-2003 sheet holds: refused, nothing written.
    ExportRequest tooMany = RequestFor(f.core.Table(), out.Path() / "big.xls");
    tooMany.rows = 65536;
    tooMany.cell = [](int, int) {
        ExportCell one;
        one.kind = ExportCell::Kind::Number;
        one.number = 1;
        return one;
    };
    const ExportResult refused = WriteWorkbook(tooMany);
    EXPECT_EQ(refused.status, ExportStatus::CouldNotBegin);
    EXPECT_NE(refused.message.find(L"65535"), std::wstring::npos);
    EXPECT_FALSE(std::filesystem::exists(out.Path() / "big.xls"));
    EXPECT_EQ(f.Rows(), 6);
}

TEST_F(WorkbookExportTest, AFullDiskIsNamedAsTheReason) {
    if (::geteuid() != 0) GTEST_SKIP() << "a small file system of its own needs root";
    const auto small = out.Path() / "small-disk";
    std::filesystem::create_directory(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=16k") != 0) GTEST_SKIP() << "no tmpfs here";
    for (int i = 0; i < 3000; ++i) f.Feed(WeightFrame(0x08, static_cast<uint32_t>(1000 + i * 7)));
    const ExportResult r = WriteWorkbook(RequestFor(f.core.Table(), small / "t.xls"));
    const bool leftPartial = std::filesystem::exists(small / "t.xls.part~");
    ::umount(small.c_str());
    EXPECT_EQ(r.status, ExportStatus::SaveFailed);
    EXPECT_EQ(r.message, L"No space left on device");
    EXPECT_FALSE(leftPartial);
}

}  // namespace
}  // namespace tarvex::test
