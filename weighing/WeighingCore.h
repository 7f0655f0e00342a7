#pragma once
// Judging the scale's frames, the table of readings, the display unit, the
// row limits and clearing. Runs on the window thread; no display types here.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "weighing/MeasurementTable.h"
#include "weighing/WeighingHost.h"

namespace tarvex {

class CTextLookup;

constexpr int RX_BUFFER_SIZE = 2000;
constexpr int TABLE_WARNING_ROW = 60000;
constexpr int TABLE_FULL_ROW = 65000;

struct RowLimits {
    int warningRow = TABLE_WARNING_ROW;
    int fullRow = TABLE_FULL_ROW;
};

struct WeighingHosts {
    IScaleLink& link;
    IUserPrompts& prompts;
    ITableView& view;
    ITableSaver& saver;
};

class CWeighingCore {
public:
    using Clock = std::function<int64_t()>;

    CWeighingCore(WeighingHosts hosts, const CTextLookup& texts, Clock clock = {},
                  RowLimits limits = {});

    // One whole frame (or what the line left when it fell quiet), as the
    // link cut it from the stream.
    void JudgeFrame(const uint8_t* bytes, int count);
    // Judges the frame now in m_rxBuffer; true when it earned a row.
    bool ProcessFrame();

    void SwitchUnit(int unit);
    // After a language change: the Error and Overweight marks and the words
    // before a damaged frame's bytes are shown in the new language.
    void LanguageChanged();
    int Unit() const { return m_unit; }

    // The clear button: asks, then clears the rows the table held when it
    // asked; readings that arrived behind the question stay.
    void OnClearData();
    // Runs the export and hands over to the clear question when it
    // succeeded; only the rows saved are cleared.
    void SaveTable(bool bAuto);

    bool IsTableFull() const { return m_tableFull; }
    void SetRowLimits(RowLimits limits) { m_limits = limits; }
    // Rows the table takes before it counts as full.
    int RowCapacity() const { return m_limits.fullRow; }
    void ResetStartTime() { m_startTime = m_clock(); }
    int64_t StartTime() const { return m_startTime; }

    // Every row is kept there as it is added; nullptr for none.
    void SetJournal(IRowJournal* journal) { m_journal = journal; }
    // Shows rows of an earlier run again, in the unit now selected; new
    // readings continue their numbering. Rows from a journal other than
    // this run's own are written to the journal as they are added.
    void RestoreRows(const std::vector<JournalRow>& rows, bool fromOtherJournal = false);

    const CMeasurementTable& Table() const { return m_table; }
    // Kilograms of every good weight row in the table.
    double WeightSum() const { return m_weightSum; }
    // The sum as the status line shows it: in full, in the unit shown, with
    // the fewest decimals any weight cell shows (so no digit is invented).
    std::wstring WeightSumText() const;

private:
    // Numbers and times the reading and puts it at the end of the table.
    int AddReading(Reading reading);
    void ApplyRowLimits(int row);
    void WarnIfNearlyFull();
    void HandleTableFull();
    void ClearRows(int rowsSeen);
    void EmptyFullTable();
    void DeleteAllRows(bool keepJournalAside = false);
    void DeleteFirstRows(int count);
    void RecordRow(int row);
    JournalRow JournalRowOf(int row) const;
    std::wstring Text(std::wstring_view section, std::wstring_view key) const;
    // The table's marks and remark words from the language file in use; read
    // when the language or the unit changes, never once per row.
    void RefreshWords();
    void NoteDecimals(double kilograms);
    void RecountDecimals();

    IScaleLink& m_link;
    IUserPrompts& m_prompts;
    ITableView& m_view;
    ITableSaver& m_saver;
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
    bool m_fullTableSaved = false;
    IRowJournal* m_journal = nullptr;
};

}  // namespace tarvex
