#pragma once
// Writes the measurement table into a spreadsheet workbook: the header
// captions in row 1 (bold, 50 high, centred vertically), each sheet column as
// wide as its list column's pixels / 6, and every cell from row 2 on, of the
// type the table gives: weights as numbers so they can be summed, times and
// date-times as such, shown as the table shows them, so a clerk can sort and
// filter by them.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tarvex {

// "A1 " for column 1, "B1 " for 2, ... (the trailing blank is part of it).
std::string GetHeaderCellName(int n);

// "TarvexDataFile-YYYY-MM-DD-hh-mm-ss" in local time; empty if it cannot be formed.
std::wstring DefaultExportName(int64_t calendarTime);

// A moment as the sheet holds it: a date-time, or a time of day alone.
struct CellMoment {
    int year = 0, month = 0, day = 0;  // all 0 for a time of day alone
    int hour = 0, minute = 0, second = 0;
};

// One cell as the sheet holds it, typed by the table that made it.
struct ExportCell {
    enum class Kind { Empty, Number, DateTime, TimeOfDay, Text };
    Kind kind = Kind::Empty;
    double number = 0;
    std::string numberFormat;  // a Number's decimals as shown ("0.000", "0."); empty: General
    CellMoment moment;
    std::wstring text;
};

// A name typed in the save dialog, with the extension of the file type
// chosen added unless it already ends in ".xls" or ".xlsx" (in any case):
// "shift.monday" is saved as "shift.monday.xls".
std::wstring WorkbookPathFor(const std::wstring& typed, const std::wstring& extension);
// The name shown in the save dialog once another file type is chosen: a
// workbook extension becomes the new one; any other name stays as typed.
std::wstring WorkbookNameForType(const std::wstring& name, const std::wstring& extension);

struct ExportColumn {
    std::wstring caption;
    int pixelWidth;
};

struct ExportRequest {
    std::wstring path;
    std::vector<ExportColumn> columns;
    int rows = 0;
    std::function<ExportCell(int row, int column)> cell;
    std::string tempFolder;  // where the writer keeps its row files; empty: the system's
};

enum class ExportStatus { Saved, CouldNotBegin, SaveFailed };

struct ExportResult {
    ExportStatus status;
    std::wstring message;  // the writer's own words when it failed
};

// True for a name ending ".xlsx", in any case.
bool NamesXlsx(const std::wstring& path);

// A name ending ".xlsx" gets an Office Open XML workbook; every other name a
// genuine Excel 97-2003 file. Never leaves a half-written file under the
// requested path.
ExportResult WriteWorkbook(const ExportRequest& request);

}  // namespace tarvex
