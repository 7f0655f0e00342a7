#include "WeighingCore.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <ctime>

#include "../localisation/TextLookup.h"
#include "CellTexts.h"
#include "WeightText.h"

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
      m_assembler(RX_BUFFER_SIZE),
      m_rxBuffer(RX_BUFFER_SIZE, 0),
      m_weights(WEIGHT_ENTRIES, 0.0),
      m_kinds(WEIGHT_ENTRIES, RowKind::Weight),
      m_times(WEIGHT_ENTRIES, 0) {
    m_startTime = m_clock();
}

std::wstring CWeighingCore::Text(std::wstring_view section, std::wstring_view key) const {
    return m_texts.Text(section, key);
}

void CWeighingCore::SetConnected(bool connected) {
    m_assembler.Reset();
    m_connected.store(connected);
}

void CWeighingCore::OnSerialData(const uint8_t* bytes, int count) {
    if (count <= 0) return;
    if (!m_connected.load()) {
        m_firstByte.store(bytes[0]);
        m_link.SignalReply();
        // The reply may have connected the link; what follows it in the same
        // burst is already the scale's first frame.
        if (!m_connected.load()) return;
        ++bytes;
        --count;
    }
    m_judging = true;
    m_assembler.Feed(bytes, count, [this](const uint8_t* frame, int length) { return JudgeFrame(frame, length); });
    m_judging = false;
    m_link.WatchLineQuiet(m_connected.load() && m_assembler.Pending());
}

void CWeighingCore::OnLineQuiet() {
    // A question asked while a frame is judged runs the event loop; the open
    // frame waits for that judging to end.
    if (m_judging) {
        m_link.WatchLineQuiet(true);
        return;
    }
    if (!m_connected.load()) {
        m_assembler.Reset();
        return;
    }
    m_judging = true;
    m_assembler.Flush([this](const uint8_t* frame, int length) { return JudgeFrame(frame, length); });
    m_judging = false;
}

bool CWeighingCore::JudgeFrame(const uint8_t* bytes, int count) {
    if (!m_connected.load()) return false;
    std::memcpy(m_rxBuffer.data(), bytes, static_cast<size_t>(count));
    m_rxCount = count;
    ProcessFrame();
    return m_connected.load();
}

bool CWeighingCore::ProcessFrame() {
    const uint8_t* b = m_rxBuffer.data();
    int row = -1;
    bool badFrame = false;
    RowKind kind = RowKind::Weight;
    if (b[0] == FRAME_OVERWEIGHT) {
        kind = RowKind::Overweight;
        row = CreateRow();
        m_table.SetCell(row, COLUMN_DATA, Text(SECTION_HEADER, L"Overweight"));
        if (row < WEIGHT_ENTRIES) m_weights[static_cast<size_t>(row)] = WEIGHT_OVERWEIGHT;
        m_retryPending = true;  // tells the completion below that Data is written
    } else if (b[0] == FRAME_WEIGHT && m_rxCount == FRAME_LENGTH && (b[0] ^ b[1] ^ b[2] ^ b[3] ^ b[4]) == b[5]) {
        m_retryPending = false;
        row = CreateRow();
    } else {
        badFrame = true;
    }

    if (badFrame) {
        if (!m_retryPending) {
            m_retryPending = true;
            m_link.SendCommand(CMD_REPEAT);
            return false;
        }
        row = CreateRow();
        kind = RowKind::Error;
        std::wstring explan = Text(SECTION_MESSAGE, L"CMD_ERROR");
        // Cell texts end at a zero byte, so the remark shows the bytes before it.
        for (int i = 0; i < m_rxCount && b[i] != 0; ++i) explan.push_back(static_cast<wchar_t>(b[i]));
        m_table.SetCell(row, COLUMN_EXPLAN, std::move(explan));
        m_table.SetCell(row, COLUMN_DATA, Text(SECTION_HEADER, L"Error_EX"));
        if (row < WEIGHT_ENTRIES) m_weights[static_cast<size_t>(row)] = WEIGHT_ERROR;
    }

    CompleteRow(row);
    if (m_retryPending) {
        m_retryPending = false;
    } else {
        m_table.SetCell(row, COLUMN_DATA, MakeWeightText(row));
        if (!m_lastWeightValid) kind = RowKind::Error;
    }
    // On disk before the scale hears that the reading arrived.
    RecordRow(row, kind);
    m_view.RowAdded(row);
    m_link.SendCommand(CMD_ACK);
    ApplyRowLimits(row);
    return true;
}

std::wstring CWeighingCore::MakeWeightText(int row) {
    double value = WEIGHT_ERROR;
    const bool valid = DecodeWeight(m_rxBuffer.data(), value);
    m_lastWeightValid = valid;
    if (row < WEIGHT_ENTRIES) m_weights[static_cast<size_t>(row)] = valid ? value : WEIGHT_ERROR;
    if (!valid) return Text(SECTION_HEADER, L"Error_EX");
    m_weightSum += value;
    std::wstring text = FormatWeightText(value, m_unit);
    NoteDecimals(text);
    return text;
}

void CWeighingCore::NoteDecimals(const std::wstring& weightText) {
    const int decimals = DecimalsShown(weightText);
    if (m_sumDecimals < 0 || decimals < m_sumDecimals) m_sumDecimals = decimals;
}

void CWeighingCore::RecountDecimals() {
    m_sumDecimals = -1;
    const int rows = std::min(m_table.RowCount(), WEIGHT_ENTRIES);
    for (int i = 0; i < rows; ++i)
        if (m_kinds[static_cast<size_t>(i)] == RowKind::Weight) NoteDecimals(m_table.Cell(i, COLUMN_DATA));
}

std::wstring CWeighingCore::WeightSumText() const {
    const int decimals = m_sumDecimals >= 0 ? m_sumDecimals : DecimalsShown(FormatWeightText(0, m_unit));
    return FormatWeightSum(m_weightSum, m_unit, decimals);
}

int CWeighingCore::CreateRow() {
    return m_table.AddRow(FormatRowNumber(m_numberBase + m_table.RowCount()));
}

void CWeighingCore::CompleteRow(int row) {
    const int64_t t = m_clock();
    m_table.SetCell(row, COLUMN_UPDATE_TIME, UpdateTimeText(t));
    m_table.SetCell(row, COLUMN_DURATION, FormatDuration(t - m_startTime));
    // Rows past the last weight entry cannot be relabelled by a unit switch,
    // so they always carry the unit they were taken in.
    if (row == 0 || row >= WEIGHT_ENTRIES)
        m_table.SetCell(row, COLUMN_UNIT, std::wstring(UnitName(m_unit)));
    else
        m_table.SetCell(row, COLUMN_UNIT, m_table.Cell(row - 1, COLUMN_UNIT));
}

const std::wstring& CWeighingCore::UpdateTimeText(int64_t t) {
    // Readings come many per second; the local-time conversion is done once a second.
    if (t != m_lastTimeStamp) {
        m_lastTimeText = FormatUpdateTime(t);
        m_lastTimeStamp = t;
    }
    return m_lastTimeText;
}

void CWeighingCore::ApplyRowLimits(int row) {
    if (row == m_limits.warningRow)
        m_prompts.ShowNoticeNoWait(Text(SECTION_MESSAGE, L"Data_Warning"));
    if (row >= m_limits.fullRow) HandleTableFull();
}

void CWeighingCore::HandleTableFull() {
    m_prompts.ShowNoticeNoWait(Text(SECTION_MESSAGE, L"Data_Error"));
    m_tableFull = true;
    m_link.SendStopAndEnd();
    m_link.ApplyDisconnected();
    SaveTable(true);
}

void CWeighingCore::SaveTable(bool bAuto) {
    int rowsSaved = 0;
    const bool saved = m_saver.SaveTableToExcel(bAuto, rowsSaved);
    if (bAuto) m_fullTableSaved = saved;
    if (saved) ClearRows(rowsSaved);
}

void CWeighingCore::RecordRow(int row, RowKind kind) {
    if (row < WEIGHT_ENTRIES) {
        m_kinds[static_cast<size_t>(row)] = kind;
        m_times[static_cast<size_t>(row)] = m_lastTimeStamp;
    }
    if (!m_journal) return;
    // A journal that failed to write takes the whole table once the disk
    // has room again, this row included.
    if (m_journal->WantsWholeTable())
        m_journal->WriteWholeTable(m_table.RowCount(), [this](int r) { return JournalRowOf(r); });
    else
        m_journal->RowAdded(row, JournalRowOf(row));
}

JournalRow CWeighingCore::JournalRowOf(int row) const {
    JournalRow record;
    if (row < WEIGHT_ENTRIES) {
        record.kind = m_kinds[static_cast<size_t>(row)];
        record.kilograms = m_weights[static_cast<size_t>(row)];
        record.time = m_times[static_cast<size_t>(row)];
    }
    for (int c = 0; c < COLUMN_COUNT; ++c) record.cells[static_cast<size_t>(c)] = m_table.Cell(row, c);
    return record;
}

void CWeighingCore::RestoreRows(const std::vector<JournalRow>& rows, bool fromOtherJournal) {
    const std::wstring unitText(UnitName(m_unit));
    const MarkWords words = CurrentMarkWords();
    // Rows keep the numbers they were shown with (even after a clear that
    // left them behind), unless rows are shown before them.
    const bool keepNumbers = m_table.RowCount() == 0;
    for (const JournalRow& record : rows) {
        const std::wstring& number = record.cells[COLUMN_NUMBER];
        const int row = m_table.AddRow(keepNumbers && !number.empty() ? number
                                                                      : FormatRowNumber(m_numberBase + m_table.RowCount()));
        for (int c = COLUMN_DATA; c < COLUMN_COUNT; ++c)
            m_table.SetCell(row, c, record.cells[static_cast<size_t>(c)]);
        m_table.SetCell(row, COLUMN_UNIT, unitText);
        if (row < WEIGHT_ENTRIES) {
            m_weights[static_cast<size_t>(row)] = record.kilograms;
            m_kinds[static_cast<size_t>(row)] = record.kind;
            m_times[static_cast<size_t>(row)] = record.time;
        }
        // Shown in the unit and the language in use now.
        if (record.kind == RowKind::Weight) {
            m_table.SetCell(row, COLUMN_DATA, FormatWeightText(record.kilograms, m_unit));
            m_weightSum += record.kilograms;
        } else {
            m_table.SetCell(row, COLUMN_DATA, words.For(record.kind));
        }
        if (fromOtherJournal && m_journal) m_journal->RowAdded(row, JournalRowOf(row));
    }
    RecountDecimals();
    // New readings go on from the last number shown.
    if (keepNumbers && !rows.empty()) {
        const long last = std::wcstol(rows.back().cells[COLUMN_NUMBER].c_str(), nullptr, 10);
        if (last >= m_table.RowCount()) m_numberBase = static_cast<int>(last) - m_table.RowCount();
    }
    m_view.RowsChanged();
}

void CWeighingCore::SwitchUnit(int unit) {
    if (unit == m_unit) return;
    // Read once per switch, not once per row: a full table of error rows
    // would otherwise read the language file 65000 times.
    const MarkWords words = CurrentMarkWords();
    const std::wstring unitText(UnitName(unit));
    const int rows = std::min(m_table.RowCount(), WEIGHT_ENTRIES);
    for (int i = 0; i < rows; ++i) {
        // The row's kind, not its value, tells a mark: 0.0 and 555.5 kg are
        // readings too.
        const RowKind kind = m_kinds[static_cast<size_t>(i)];
        m_table.SetCell(i, COLUMN_DATA, kind == RowKind::Weight ? FormatWeightText(m_weights[static_cast<size_t>(i)], unit)
                                                                : words.For(kind));
        m_table.SetCell(i, COLUMN_UNIT, unitText);
    }
    m_unit = unit;
    RecountDecimals();
    m_view.RowsChanged();
}

void CWeighingCore::LanguageChanged(const std::wstring& oldRemarkPrefix) {
    const MarkWords words = CurrentMarkWords();
    const std::wstring prefix = Text(SECTION_MESSAGE, L"CMD_ERROR");
    const int rows = std::min(m_table.RowCount(), WEIGHT_ENTRIES);
    for (int i = 0; i < rows; ++i) {
        const RowKind kind = m_kinds[static_cast<size_t>(i)];
        if (kind == RowKind::Weight) continue;
        m_table.SetCell(i, COLUMN_DATA, words.For(kind));
        // The damaged frame's bytes stay; only the words before them change.
        const std::wstring& remark = m_table.Cell(i, COLUMN_EXPLAN);
        if (kind == RowKind::Error && !oldRemarkPrefix.empty() && remark.starts_with(oldRemarkPrefix))
            m_table.SetCell(i, COLUMN_EXPLAN, prefix + remark.substr(oldRemarkPrefix.size()));
    }
    m_view.RowsChanged();
}

CWeighingCore::MarkWords CWeighingCore::CurrentMarkWords() const {
    return {Text(SECTION_HEADER, L"Error_EX"), Text(SECTION_HEADER, L"Overweight")};
}

void CWeighingCore::DeleteAllRows(bool keepJournalAside) {
    m_table.DeleteAllRows();
    if (m_journal) m_journal->TableEmptied(keepJournalAside);
    m_weightSum = 0;
    m_sumDecimals = -1;
    m_numberBase = 0;
    m_view.RowsChanged();
}

void CWeighingCore::DeleteFirstRows(int count) {
    const int rows = m_table.RowCount();
    if (count >= rows) {
        DeleteAllRows();
        return;
    }
    m_table.DeleteFirstRows(count);
    // Values and kinds move with their rows; rows past the last entry had none.
    const int kept = std::min(rows, WEIGHT_ENTRIES) - std::min(count, WEIGHT_ENTRIES);
    if (count < WEIGHT_ENTRIES && kept > 0) {
        std::copy_n(m_weights.begin() + count, kept, m_weights.begin());
        std::copy_n(m_kinds.begin() + count, kept, m_kinds.begin());
        std::copy_n(m_times.begin() + count, kept, m_times.begin());
    }
    m_weightSum = 0;
    for (int i = 0; i < std::min(m_table.RowCount(), WEIGHT_ENTRIES); ++i)
        if (m_kinds[static_cast<size_t>(i)] == RowKind::Weight) m_weightSum += m_weights[static_cast<size_t>(i)];
    m_numberBase += count;
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
        // A full table whose automatic save failed is emptied all the same;
        // its rows then stay in a copy of the journal.
        DeleteAllRows(m_table.RowCount() > 0 && !m_fullTableSaved);
        ResetStartTime();
        m_link.RestartLink();
        m_tableFull = false;
    }
}

bool CWeighingCore::Weight(int row, double& kilograms) const {
    if (row < 0 || row >= WEIGHT_ENTRIES || row >= m_table.RowCount()) return false;
    kilograms = m_weights[static_cast<size_t>(row)];
    return true;
}

}  // namespace tarvex
