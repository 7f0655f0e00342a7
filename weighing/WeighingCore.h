#pragma once
// Judging the scale's frames, the table of readings, the display unit, the
// row limits and clearing. Runs on the window thread; no display types here.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "weighing/MeasurementTable.h"
#include "weighing/RowRecord.h"
#include "weighing/ScaleBytes.h"

namespace tarvex {

class CTextLookup;

constexpr int RX_BUFFER_SIZE = 2000;
constexpr int TABLE_WARNING_ROW = 60000;
constexpr int TABLE_FULL_ROW = 65000;

struct RowLimits {
    int warningRow = TABLE_WARNING_ROW;
    int fullRow = TABLE_FULL_ROW;
};

// What one frame came to; the caller sends, journals, shows and asks.
struct FrameVerdict {
    bool askRepeat = false;   // damaged, the first time: the scale is asked for it again
    int row = -1;             // the row it earned (to be acknowledged), or -1
    bool nearlyFull = false;  // the table just went past the warning row
    bool tableFull = false;   // the row filled the table: it is to be saved and emptied
};

class CWeighingCore {
public:
    using Clock = std::function<int64_t()>;

    explicit CWeighingCore(const CTextLookup& texts, Clock clock = {}, RowLimits limits = {});

    // One whole frame (or what the line left when it fell quiet), as the
    // link cut it from the stream.
    FrameVerdict JudgeFrame(const uint8_t* bytes, int count);
    // Judges the frame now in m_rxBuffer.
    FrameVerdict ProcessFrame();
    // A weight the take rule chose from a scale's live weights, as the
    // scale gave it; never a repeat to ask for.
    FrameVerdict TakeScaleWeight(const std::string& digits, const std::string& unit, double kilograms);

    // Readings taken here are counted from lastSeq on.
    void SetDesk(std::string desk, uint64_t lastSeq);
    const std::string& Desk() const { return m_desk; }
    uint64_t LastSeq() const { return m_lastSeq; }

    // True when the unit changed.
    bool SwitchUnit(int unit);
    // After a language change: the Error and Overweight marks and the words
    // before a damaged frame's bytes are shown in the new language.
    void LanguageChanged();
    int Unit() const { return m_unit; }

    // The first count rows go (all of them when count reaches the table's
    // end); the rows after them keep their numbers. Returns how many went.
    int ClearFirstRows(int count);
    // A full table is emptied to go on.
    void EmptyTable();
    // The table is full and waits to be saved and emptied.
    bool IsTableFull() const { return m_tableFull; }
    void SetTableFull(bool full) { m_tableFull = full; }
    void SetRowLimits(RowLimits limits) { m_limits = limits; }
    // Rows the table takes before it counts as full.
    int RowCapacity() const { return m_limits.fullRow; }
    void ResetStartTime() { m_startTime = m_clock(); }
    int64_t StartTime() const { return m_startTime; }

    // Shows rows of an earlier run again, in the unit now selected; new
    // readings continue their numbering. Rows keep their desk and seq; a
    // row without a seq gets this desk's next. True when the table went
    // past the warning row.
    bool RestoreRows(const std::vector<RowRecord>& rows);

    // The row as it leaves the table: for the journal and the outputs.
    RowRecord RecordOf(int row) const;

    const CMeasurementTable& Table() const { return m_table; }
    // Kilograms of every good weight row in the table.
    double WeightSum() const { return m_weightSum; }
    // The sum as the status line shows it: in full, in the unit shown, with
    // the fewest decimals any weight cell shows (so no digit is invented).
    std::wstring WeightSumText() const;

private:
    // Numbers and times the reading and puts it at the end of the table.
    int AddReading(Reading reading);
    // The verdict on the row just added: the table's limits.
    FrameVerdict Added(int row);
    // True once each time the table goes past the warning row.
    bool NearlyFullNow();
    void DeleteAllRows();
    int DeskIndex(const std::string& desk);
    std::wstring Text(std::wstring_view section, std::wstring_view key) const;
    // The table's marks and remark words from the language file in use; read
    // when the language or the unit changes, never once per row.
    void RefreshWords();
    void NoteDecimals(const Reading& reading);
    void RecountDecimals();

    const CTextLookup& m_texts;
    Clock m_clock;
    RowLimits m_limits;

    std::vector<uint8_t> m_rxBuffer;  // the frame being judged, from position 0
    int m_rxCount = 0;
    bool m_retryPending = false;
    CMeasurementTable m_table;
    int m_numberBase = 0;  // rows cleared before the first one, whose numbering goes on
    int64_t m_startTime = 0;
    int m_unit = 0;
    double m_weightSum = 0;
    int m_sumDecimals = -1;  // fewest decimals of a weight cell; -1 for none
    bool m_tableFull = false;
    // The nearly-full notice was given for the rows in the table now.
    bool m_warned = false;
    std::string m_desk;
    uint64_t m_lastSeq = 0;
    // Desks of rows handed over from other journals; 0 is this one.
    std::vector<std::string> m_otherDesks;
};

}  // namespace tarvex
