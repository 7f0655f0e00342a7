#pragma once
// Writes the measurement table into a spreadsheet workbook: the header
// captions in row 1 (bold, 50 high, centred vertically), each sheet column as
// wide as its list column's pixels / 6, and every cell from row 2 on. Texts
// that read as plain numbers are stored as numbers so weights can be summed,
// times and date-times as such, shown as the table shows them, so a clerk
// can sort and filter by them.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex {

// "A1 " for column 1, "B1 " for 2, ... (the trailing blank is part of it).
std::string GetHeaderCellName(int n);

// "TarvexDataFile-YYYY-MM-DD-hh-mm-ss" in local time; empty if it cannot be formed.
std::wstring DefaultExportName(int64_t calendarTime);

// Whether the text, blanks aside, is a plain decimal number such as "12",
// "-1.2340" or "12345.".
bool IsPlainNumber(std::wstring_view text, double& value);

// A time of day "hh:mm:ss" (a Duration cell) and a moment "hh:mm:ss
// mm/dd/yyyy" (an Update_Time cell), as the spreadsheet program reads them
// when it is handed those texts. Negative spans and other texts are neither.
struct CellMoment {
    int year = 0, month = 0, day = 0;  // all 0 for a time of day alone
    int hour = 0, minute = 0, second = 0;
};
bool IsTimeOfDay(std::wstring_view text, CellMoment& moment);
bool IsDateTime(std::wstring_view text, CellMoment& moment);

// The number format that shows a plain number with the decimals its text
// has: "0.000" for "12.500", "0." for "12345."; empty (General) for "12".
std::string ShownNumberFormat(std::wstring_view text);

// A name typed in the save dialog, with ".xls" added unless it already ends
// in ".xls" or ".xlsx" (in any case): "shift.monday" is saved as
// "shift.monday.xls".
std::wstring WorkbookPathFor(const std::wstring& typed);

struct ExportColumn {
    std::wstring caption;
    int pixelWidth;
};

struct ExportRequest {
    std::wstring path;
    std::vector<ExportColumn> columns;
    int rows = 0;
    std::function<const std::wstring&(int row, int column)> cell;
    std::string tempFolder;  // where the writer keeps its row files; empty: the system's
};

enum class ExportStatus { Saved, CouldNotBegin, SaveFailed };

struct ExportResult {
    ExportStatus status;
    std::wstring message;  // the writer's own words when it failed
};

// A name ending ".xlsx" gets an Office Open XML workbook; every other name a
// genuine Excel 97-2003 file. Never leaves a half-written file under the
// requested path.
ExportResult WriteWorkbook(const ExportRequest& request);

}  // namespace tarvex
