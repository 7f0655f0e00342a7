#pragma once
// The measurement table: one row per reading, holding what was measured.
// Its texts are made when they are shown, journalled or saved, in the unit
// and the words of that moment, so a unit or language change rewrites
// nothing.

#include <array>
#include <cstdint>
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

// What a row holds.
enum class RowKind : char { Weight = 'W', Overweight = 'O', Error = 'E' };

enum class RemarkKind : char {
    None,
    FrameBytes,  // a damaged frame's bytes, shown after the remark words
    AsWritten,   // a remark from an earlier run in words this one does not use
};

struct Reading {
    int64_t time = 0;        // calendar seconds it arrived
    int64_t sinceStart = 0;  // seconds since the link started
    double kilograms = 0;    // weight rows only
    int32_t number = 0;      // as shown, from 1
    RowKind kind = RowKind::Weight;
    RemarkKind remarkKind = RemarkKind::None;
    // A damaged frame's bytes one per character, every one of them.
    std::wstring remark;
    uint64_t seq = 0;   // the desk's count of it
    uint16_t desk = 0;  // 0: this desk; else one of rows handed over from another
    // A weight as a scale other than the frames' gave it ("1.500", "kg");
    // empty for the frames, whose kilograms are all there is.
    std::string scaleDigits{};
    std::string scaleUnit{};
};

// The words the marks and remarks are shown in.
struct TableWords {
    std::wstring error, overweight, remarkPrefix;
    bool operator==(const TableWords&) const = default;
};

class CMeasurementTable {
public:
    int RowCount() const { return static_cast<int>(m_rows.size()); }
    int Add(Reading reading);  // returns its index
    const Reading& Row(int row) const { return m_rows.at(static_cast<size_t>(row)); }

    // The cell's text in the unit and words in use.
    std::wstring Cell(int row, int column) const;
    std::wstring DataText(const Reading& reading) const;
    std::wstring RemarkText(const Reading& reading) const;

    void SetUnit(int unit) { m_unit = unit; }
    int Unit() const { return m_unit; }
    void SetWords(TableWords words) { m_words = std::move(words); }
    const TableWords& Words() const { return m_words; }

    void DeleteAllRows();
    // Removes the first rows; the others keep their numbers and readings.
    void DeleteFirstRows(int count);

private:
    const std::wstring& UpdateTimeText(int64_t time) const;

    std::vector<Reading> m_rows;
    int m_unit = 0;
    TableWords m_words;
    // Rows come many per second and are shown together: the local-time
    // conversion is done once per second shown.
    mutable int64_t m_lastTime = INT64_MIN;
    mutable std::wstring m_lastTimeText;
};

}  // namespace tarvex
