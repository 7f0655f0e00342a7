#pragma once
// The measurement table: rows of six texts, appended at the end, shown by a
// virtual list that reads the cells straight from here.

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex {

constexpr int COLUMN_NUMBER = 0;
constexpr int COLUMN_DATA = 1;
constexpr int COLUMN_UNIT = 2;
constexpr int COLUMN_DURATION = 3;
constexpr int COLUMN_UPDATE_TIME = 4;
constexpr int COLUMN_EXPLAN = 5;
constexpr int COLUMN_COUNT = 6;

enum class ColumnAlign { Left, Centre };

struct ColumnSpec {
    std::wstring_view headerKey;  // key in section "ListCtrl_Header"
    int width;                    // pixels
    ColumnAlign align;
};

inline constexpr std::array<ColumnSpec, COLUMN_COUNT> TABLE_COLUMNS{{
    {L"Number", 80, ColumnAlign::Centre},
    {L"Data", 80, ColumnAlign::Centre},
    {L"Unit", 80, ColumnAlign::Centre},
    {L"Duration", 80, ColumnAlign::Centre},
    {L"Update_Time", 80, ColumnAlign::Centre},
    {L"Explan", 200, ColumnAlign::Left},
}};

class CMeasurementTable {
public:
    int RowCount() const { return static_cast<int>(m_rows.size()); }

    // Appends a row holding only its Number text; returns its index.
    int AddRow(std::wstring numberText);

    void SetCell(int row, int column, std::wstring text);
    const std::wstring& Cell(int row, int column) const;

    void DeleteAllRows();
    // Removes the first rows; the others keep their cells.
    void DeleteFirstRows(int count);

private:
    using Row = std::array<std::wstring, COLUMN_COUNT>;
    std::vector<Row> m_rows;
};

}  // namespace tarvex
