#pragma once
// The records of an Excel 97-2003 workbook (BIFF8) with one sheet: the
// captions in row 1 (bold, 50 points high, centred vertically), the cells
// from row 2 on, each column as wide as its list column's pixels / 6.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex {

constexpr int BIFF_MAX_RECORD = 8224;  // data bytes of one record
constexpr int BIFF_MAX_ROWS = 65536;   // the header row included
constexpr int BIFF_MAX_TEXT = 32767;   // UTF-16 units of one cell

struct BiffCell {
    enum class Kind { Empty, Number, DateTime, TimeOfDay, Text };
    Kind kind = Kind::Empty;
    double value = 0;           // a number, or a date-time / time of day as the spreadsheet's serial
    std::string numberFormat;   // a number's format ("0.000"); empty: General
    std::wstring text;
};

struct BiffColumn {
    std::wstring caption;
    int pixelWidth = 0;
};

struct BiffSheet {
    std::vector<BiffColumn> columns;
    int rows = 0;  // below the captions
    std::function<BiffCell(int row, int column)> cell;
};

// The spreadsheet's serial of a moment (days since 1899-12-30, counting the
// 29 February 1900 that never was) and of a time of day alone.
double SpreadsheetSerial(int year, int month, int day, int hour, int minute, int second);
double TimeOfDaySerial(int hour, int minute, int second);

// Integers of 30 bits and values that survive the 30-bit mantissa go into a
// 4-byte RK value; false for the rest.
bool EncodeRk(double value, uint32_t& rk);

// The "Workbook" stream. Needs at most BIFF_MAX_ROWS - 1 rows.
std::vector<uint8_t> BuildBiffWorkbook(const BiffSheet& sheet);

}  // namespace tarvex
