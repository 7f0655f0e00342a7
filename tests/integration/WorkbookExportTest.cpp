// The workbook writer, read back by openpyxl.

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <tuple>

#include <cstdlib>

#include "RecordingHosts.h"
#include "WeightText.h"
#include "WorkbookCheck.h"
#include "WorkbookExport.h"

namespace tarvex::test {
namespace {

const std::vector<std::wstring> kHeaders{L"No.", L"Weight", L"Unit", L"Duration", L"Time", L"Remarks"};
const std::vector<int> kPixels{80, 80, 80, 80, 80, 200};

ExportRequest RequestFor(const CMeasurementTable& table, const std::filesystem::path& path,
                         const std::vector<int>& pixels = kPixels) {
    ExportRequest r;
    r.path = WideFromPath(path);
    for (size_t i = 0; i < kHeaders.size(); ++i) r.columns.push_back({kHeaders[i], pixels[i]});
    r.rows = table.RowCount();
    r.cell = [&table](int row, int column) -> const std::wstring& { return table.Cell(row, column); };
    return r;
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

TEST(PlainNumber, OnlyDecimalNumbersCount) {
    const std::pair<const wchar_t*, double> numbers[] = {
        {L"       1", 1}, {L"1.2340", 1.234}, {L"-123.45", -123.45}, {L"12345.", 12345}, {L"0.0000", 0}};
    for (const auto& [text, value] : numbers) {
        double got = -1;
        EXPECT_TRUE(IsPlainNumber(text, got)) << text;
        EXPECT_DOUBLE_EQ(got, value) << text;
    }
    double ignored;
    for (const wchar_t* text : {L"", L"  2:11.5", L"-  2:11.5", L"01:01:01", L"-1:-2:-5", L"Error", L"1.2.3",
                                L"1e5", L"--1", L"1-", L"14:03:07 12/06/2026", L"."})
        EXPECT_FALSE(IsPlainNumber(text, ignored)) << text;
}

TEST(CellMoments, TimesAndDateTimesAsTheSpreadsheetReadsThem) {
    const struct {
        const wchar_t* text;
        bool timeOfDay, dateTime;
        CellMoment moment;
    } cases[] = {
        {L"01:01:01", true, false, {0, 0, 0, 1, 1, 1}},
        {L"23:59:59", true, false, {0, 0, 0, 23, 59, 59}},
        {L"14:03:07 12/06/2026", false, true, {2026, 12, 6, 14, 3, 7}},
        {L"00:00:00 02/29/2028", false, true, {2028, 2, 29, 0, 0, 0}},
        {L"00:00:00 02/29/2027", false, false, {}},  // no such day
        {L"-1:-2:-5", false, false, {}},             // a negative span stays text
        {L"24:00:00", false, false, {}},
        {L"  2:11.5", false, false, {}},             // LB:OZ
        {L"14:03:07 13/06/2026", false, false, {}},
        {L"14:03:07 12/06/1899", false, false, {}},
        {L"1:01:01", false, false, {}},
        {L"", false, false, {}},
    };
    for (const auto& c : cases) {
        CellMoment got;
        EXPECT_EQ(IsTimeOfDay(c.text, got), c.timeOfDay) << c.text;
        CellMoment dated;
        EXPECT_EQ(IsDateTime(c.text, dated), c.dateTime) << c.text;
        if (c.dateTime) got = dated;
        if (c.timeOfDay || c.dateTime) {
            EXPECT_EQ(std::tie(got.year, got.month, got.day, got.hour, got.minute, got.second),
                      std::tie(c.moment.year, c.moment.month, c.moment.day, c.moment.hour, c.moment.minute,
                               c.moment.second))
                << c.text;
        }
    }
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

TEST(WorkbookPath, ATypedNameGetsAWorkbookExtensionUnlessItHasOne) {
    const struct {
        const wchar_t* typed;
        const wchar_t* saved;
    } cases[] = {{L"/d/shift", L"/d/shift.xls"},          {L"/d/shift.monday", L"/d/shift.monday.xls"},
                 {L"/d/t.xls", L"/d/t.xls"},              {L"/d/t.XLSX", L"/d/t.XLSX"},
                 {L"/d/t.xlsx.bak", L"/d/t.xlsx.bak.xls"}, {L"/d.xls/t", L"/d.xls/t.xls"}};
    for (const auto& c : cases) EXPECT_EQ(WorkbookPathFor(c.typed), c.saved) << c.typed;
}

TEST_F(WorkbookExportTest, NumbersKeepTheDecimalsTheTableShows) {
    const struct {
        const wchar_t* text;
        const char* format;
    } cases[] = {{L"12", ""}, {L"0.5000", "0.0000"}, {L"12.500", "0.000"}, {L"-1.25", "0.00"},
                 {L"12345.", "0."}, {L"1.0 ", "0.0"}};
    for (const auto& c : cases) EXPECT_EQ(ShownNumberFormat(c.text), c.format) << c.text;
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
        f.core.OnSerialData(frame.data(), static_cast<int>(frame.size()));
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
    tooMany.cell = [](int, int) -> const std::wstring& {
        static const std::wstring one = L"1";
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
