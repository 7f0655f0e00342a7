#include "weighing/WeighingCore.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cwchar>
#include <ctime>

#include "localisation/TextLookup.h"
#include "weighing/FrameAssembler.h"
#include "weighing/CellTexts.h"
#include "weighing/WeightText.h"

namespace tarvex {

CWeighingCore::CWeighingCore(WeighingHosts hosts, const CTextLookup& texts, Clock clock,
                             RowLimits limits)
    : m_link(hosts.link),
      m_prompts(hosts.prompts),
      m_view(hosts.view),
      m_saver(hosts.saver),
      m_texts(texts),
      m_clock(clock ? std::move(clock) : Clock([] { return static_cast<int64_t>(std::time(nullptr)); })),
      m_limits(limits),
      m_rxBuffer(RX_BUFFER_SIZE, 0) {
    m_startTime = m_clock();
    RefreshWords();
}

std::wstring CWeighingCore::Text(std::wstring_view section, std::wstring_view key) const {
    return m_texts.Text(section, key);
}

void CWeighingCore::JudgeFrame(const uint8_t* bytes, int count) {
    std::memcpy(m_rxBuffer.data(), bytes, static_cast<size_t>(count));
    m_rxCount = count;
    ProcessFrame();
}

bool CWeighingCore::ProcessFrame() {
    const uint8_t* b = m_rxBuffer.data();
    Reading reading;
    if (b[0] == FRAME_OVERWEIGHT) {
        reading.kind = RowKind::Overweight;
    } else if (b[0] == FRAME_WEIGHT && m_rxCount == FRAME_LENGTH && (b[0] ^ b[1] ^ b[2] ^ b[3] ^ b[4]) == b[5]) {
        if (!DecodeWeight(b, reading.kilograms)) reading.kind = RowKind::Error;
    } else {
        if (!m_retryPending) {
            m_retryPending = true;
            m_link.SendCommand(CMD_REPEAT);
            return false;
        }
        reading.kind = RowKind::Error;
        reading.remarkKind = RemarkKind::FrameBytes;
        // Every byte, zeros too: the remark is there to show what arrived.
        for (int i = 0; i < m_rxCount; ++i) reading.remark.push_back(static_cast<wchar_t>(b[i]));
    }
    m_retryPending = false;
    const int row = AddReading(std::move(reading));
    // On disk before the scale hears that the reading arrived.
    RecordRow(row);
    m_view.RowAdded(row);
    m_link.SendCommand(CMD_ACK);
    ApplyRowLimits(row);
    return true;
}

int CWeighingCore::AddReading(Reading reading) {
    const int64_t t = m_clock();
    reading.time = t;
    reading.sinceStart = t - m_startTime;
    reading.number = m_numberBase + m_table.RowCount() + 1;
    if (reading.kind == RowKind::Weight) {
        m_weightSum += reading.kilograms;
        NoteDecimals(reading.kilograms);
    }
    return m_table.Add(std::move(reading));
}

void CWeighingCore::NoteDecimals(double kilograms) {
    const int decimals = DecimalsShown(kilograms, m_unit);
    if (m_sumDecimals < 0 || decimals < m_sumDecimals) m_sumDecimals = decimals;
}

void CWeighingCore::RecountDecimals() {
    m_sumDecimals = -1;
    double largest = -1;
    for (int i = 0; i < m_table.RowCount(); ++i) {
        const Reading& r = m_table.Row(i);
        if (r.kind != RowKind::Weight) continue;
        if (m_unit == UNIT_LBOZ) NoteDecimals(r.kilograms);
        else largest = std::max(largest, std::fabs(r.kilograms));
    }
    // In KG and LB a heavier weight never shows more decimals.
    if (largest >= 0) NoteDecimals(largest);
}

std::wstring CWeighingCore::WeightSumText() const {
    const int decimals = m_sumDecimals >= 0 ? m_sumDecimals : DecimalsShown(0.0, m_unit);
    return FormatWeightSum(m_weightSum, m_unit, decimals);
}

void CWeighingCore::ApplyRowLimits(int row) {
    WarnIfNearlyFull();
    if (row >= m_limits.fullRow) HandleTableFull();
}

void CWeighingCore::WarnIfNearlyFull() {
    // Once for each time the table reaches the row, also when rows shown
    // again after a restart take it there.
    if (m_table.RowCount() <= m_limits.warningRow) {
        m_warned = false;
    } else if (!m_warned) {
        m_warned = true;
        m_prompts.ShowNoticeNoWait(Text(SECTION_MESSAGE, L"Data_Warning"));
    }
}

void CWeighingCore::HandleTableFull() {
    // Told while the save runs; the saver's word on how it went replaces it.
    m_prompts.ShowNoticeNoWait(Text(SECTION_MESSAGE, L"Data_Error"));
    m_tableFull = true;
    m_link.SendStopAndEnd();
    m_link.ApplyDisconnected();
    int rowsSaved = 0;
    m_fullTableSaved = m_saver.SaveTableToExcel(true, rowsSaved);
    // Every row is in the workbook and the table must be emptied to go on:
    // nothing to ask.
    if (m_fullTableSaved) EmptyFullTable();
}

void CWeighingCore::SaveTable(bool bAuto) {
    int rowsSaved = 0;
    const bool saved = m_saver.SaveTableToExcel(bAuto, rowsSaved);
    if (!saved) return;
    if (rowsSaved == m_table.RowCount()) m_fullTableSaved = true;
    ClearRows(rowsSaved);
}

void CWeighingCore::EmptyFullTable() {
    // Its rows stay in a copy of the journal unless a workbook holds them.
    DeleteAllRows(m_table.RowCount() > 0 && !m_fullTableSaved);
    ResetStartTime();
    m_link.RestartLink();
    m_tableFull = false;
}

void CWeighingCore::RecordRow(int row) {
    if (!m_journal) return;
    // A journal that failed to write takes the whole table once the disk
    // has room again, this row included.
    if (m_journal->WantsWholeTable())
        m_journal->WriteWholeTable(m_table.RowCount(), [this](int r) { return JournalRowOf(r); });
    else
        m_journal->RowAdded(row, JournalRowOf(row));
}

JournalRow CWeighingCore::JournalRowOf(int row) const {
    const Reading& reading = m_table.Row(row);
    JournalRow record;
    record.kind = reading.kind;
    record.kilograms = reading.kind == RowKind::Weight       ? reading.kilograms
                       : reading.kind == RowKind::Overweight ? WEIGHT_OVERWEIGHT
                                                             : WEIGHT_ERROR;
    record.time = reading.time;
    for (int c = 0; c < COLUMN_COUNT; ++c) record.cells[static_cast<size_t>(c)] = m_table.Cell(row, c);
    return record;
}

void CWeighingCore::RestoreRows(const std::vector<JournalRow>& rows, bool fromOtherJournal) {
    RefreshWords();
    const std::wstring& prefix = m_table.Words().remarkPrefix;
    // Rows keep the numbers they were shown with (even after a clear that
    // left them behind), unless rows are shown before them.
    const bool keepNumbers = m_table.RowCount() == 0;
    for (const JournalRow& record : rows) {
        Reading reading;
        reading.kind = record.kind;
        if (record.kind == RowKind::Weight) reading.kilograms = record.kilograms;
        reading.time = record.time;
        if (!ParseDuration(record.cells[COLUMN_DURATION], reading.sinceStart)) reading.sinceStart = 0;
        const long number = std::wcstol(record.cells[COLUMN_NUMBER].c_str(), nullptr, 10);
        reading.number = keepNumbers && number > 0 ? static_cast<int32_t>(number)
                                                   : m_numberBase + m_table.RowCount() + 1;
        // Words before a damaged frame's bytes follow the language from now
        // on; other remarks stay as they were written.
        const std::wstring& remark = record.cells[COLUMN_EXPLAN];
        if (!remark.empty()) {
            const bool frameBytes = remark.starts_with(prefix);
            reading.remarkKind = frameBytes ? RemarkKind::FrameBytes : RemarkKind::AsWritten;
            reading.remark = frameBytes ? remark.substr(prefix.size()) : remark;
        }
        if (reading.kind == RowKind::Weight) m_weightSum += reading.kilograms;
        const int row = m_table.Add(std::move(reading));
        if (fromOtherJournal && m_journal) m_journal->RowAdded(row, JournalRowOf(row));
    }
    RecountDecimals();
    WarnIfNearlyFull();
    // New readings go on from the last number shown.
    if (keepNumbers && !rows.empty()) {
        const long last = std::wcstol(rows.back().cells[COLUMN_NUMBER].c_str(), nullptr, 10);
        if (last >= m_table.RowCount()) m_numberBase = static_cast<int>(last) - m_table.RowCount();
    }
    m_view.RowsChanged();
}

void CWeighingCore::SwitchUnit(int unit) {
    if (unit == m_unit) return;
    m_unit = unit;
    m_table.SetUnit(unit);
    RefreshWords();
    RecountDecimals();
    m_view.RowsChanged();
}

void CWeighingCore::LanguageChanged() {
    RefreshWords();
    m_view.RowsChanged();
}

void CWeighingCore::RefreshWords() {
    m_table.SetWords({Text(SECTION_HEADER, L"Error_EX"), Text(SECTION_HEADER, L"Overweight"),
                      Text(SECTION_MESSAGE, L"CMD_ERROR")});
}

void CWeighingCore::DeleteAllRows(bool keepJournalAside) {
    m_table.DeleteAllRows();
    if (m_journal) m_journal->TableEmptied(keepJournalAside);
    m_weightSum = 0;
    m_sumDecimals = -1;
    m_numberBase = 0;
    m_warned = false;
    m_view.RowsChanged();
}

void CWeighingCore::DeleteFirstRows(int count) {
    const int rows = m_table.RowCount();
    if (count >= rows) {
        DeleteAllRows();
        return;
    }
    m_table.DeleteFirstRows(count);
    m_weightSum = 0;
    for (int i = 0; i < m_table.RowCount(); ++i)
        if (m_table.Row(i).kind == RowKind::Weight) m_weightSum += m_table.Row(i).kilograms;
    m_numberBase += count;
    if (m_table.RowCount() <= m_limits.warningRow) m_warned = false;
    RecountDecimals();
    if (m_journal) m_journal->FirstRowsCleared(count);
    m_view.RowsChanged();
}

void CWeighingCore::OnClearData() { ClearRows(m_table.RowCount()); }

void CWeighingCore::ClearRows(int rowsSeen) {
    // Readings keep arriving while the question stands; only what the clerk
    // saw (or saved) goes.
    if (rowsSeen > 0 && m_prompts.AskYesNo(Text(SECTION_MESSAGE, L"Clear_Data")) == ANSWER_YES) {
        DeleteFirstRows(rowsSeen);
        ResetStartTime();
    }
    if (m_tableFull) {
        // A full table whose automatic save failed is emptied all the same,
        // and the notice that it is full goes with its rows.
        m_prompts.HideNoticeNoWait();
        EmptyFullTable();
    }
}

}  // namespace tarvex
