#include "weighing/WeighingCore.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cwchar>
#include <ctime>

#include "text/TextLookup.h"
#include "weighing/FrameAssembler.h"
#include "weighing/CellTexts.h"
#include "weighing/WeightText.h"

namespace tarvex {

CWeighingCore::CWeighingCore(const CTextLookup& texts, Clock clock, RowLimits limits)
    : m_texts(texts),
      m_clock(clock ? std::move(clock) : Clock([] { return static_cast<int64_t>(std::time(nullptr)); })),
      m_limits(limits),
      m_rxBuffer(RX_BUFFER_SIZE, 0) {
    m_startTime = m_clock();
    RefreshWords();
}

void CWeighingCore::SetDesk(std::string desk, uint64_t lastSeq) {
    m_desk = std::move(desk);
    m_lastSeq = lastSeq;
}

std::wstring CWeighingCore::Text(std::wstring_view section, std::wstring_view key) const {
    return m_texts.Text(section, key);
}

FrameVerdict CWeighingCore::JudgeFrame(const uint8_t* bytes, int count) {
    std::memcpy(m_rxBuffer.data(), bytes, static_cast<size_t>(count));
    m_rxCount = count;
    return ProcessFrame();
}

FrameVerdict CWeighingCore::ProcessFrame() {
    const uint8_t* b = m_rxBuffer.data();
    FrameVerdict verdict;
    Reading reading;
    if (b[0] == FRAME_OVERWEIGHT) {
        reading.kind = RowKind::Overweight;
    } else if (b[0] == FRAME_WEIGHT && m_rxCount == FRAME_LENGTH && (b[0] ^ b[1] ^ b[2] ^ b[3] ^ b[4]) == b[5]) {
        if (!DecodeWeight(b, reading.kilograms)) reading.kind = RowKind::Error;
    } else {
        if (!m_retryPending) {
            m_retryPending = true;
            verdict.askRepeat = true;
            return verdict;
        }
        reading.kind = RowKind::Error;
        reading.remarkKind = RemarkKind::FrameBytes;
        // Every byte, zeros too: the remark is there to show what arrived.
        for (int i = 0; i < m_rxCount; ++i) reading.remark.push_back(static_cast<wchar_t>(b[i]));
    }
    m_retryPending = false;
    return Added(AddReading(std::move(reading)));
}

FrameVerdict CWeighingCore::TakeScaleWeight(const std::string& digits, const std::string& unit, double kilograms) {
    Reading reading;
    reading.kilograms = kilograms;
    reading.scaleDigits = digits;
    reading.scaleUnit = unit;
    return Added(AddReading(std::move(reading)));
}

FrameVerdict CWeighingCore::Added(int row) {
    FrameVerdict verdict;
    verdict.row = row;
    verdict.nearlyFull = NearlyFullNow();
    if (verdict.row >= m_limits.fullRow) {
        m_tableFull = true;
        verdict.tableFull = true;
    }
    return verdict;
}

int CWeighingCore::AddReading(Reading reading) {
    const int64_t t = m_clock();
    reading.time = t;
    reading.sinceStart = t - m_startTime;
    reading.number = m_numberBase + m_table.RowCount() + 1;
    reading.seq = ++m_lastSeq;
    if (reading.kind == RowKind::Weight) {
        m_weightSum += reading.kilograms;
        NoteDecimals(reading);
    }
    return m_table.Add(std::move(reading));
}

void CWeighingCore::NoteDecimals(const Reading& reading) {
    const int decimals = reading.scaleUnit.empty() ? DecimalsShown(reading.kilograms, m_unit)
                                                   : DecimalsShown(m_table.DataText(reading));
    if (m_sumDecimals < 0 || decimals < m_sumDecimals) m_sumDecimals = decimals;
}

void CWeighingCore::RecountDecimals() {
    m_sumDecimals = -1;
    const Reading* largest = nullptr;
    for (int i = 0; i < m_table.RowCount(); ++i) {
        const Reading& r = m_table.Row(i);
        if (r.kind != RowKind::Weight) continue;
        // A scale's own digits say their decimals row by row.
        if (m_unit == UNIT_LBOZ || !r.scaleUnit.empty()) NoteDecimals(r);
        else if (!largest || std::fabs(r.kilograms) > std::fabs(largest->kilograms)) largest = &r;
    }
    // In KG and LB a heavier weight of the frames never shows more decimals.
    if (largest) NoteDecimals(*largest);
}

std::wstring CWeighingCore::WeightSumText() const {
    const int decimals = m_sumDecimals >= 0 ? m_sumDecimals : DecimalsShown(0.0, m_unit);
    return FormatWeightSum(m_weightSum, m_unit, decimals);
}

bool CWeighingCore::NearlyFullNow() {
    // Once for each time the table reaches the row, also when rows shown
    // again after a restart take it there.
    if (m_table.RowCount() <= m_limits.warningRow) {
        m_warned = false;
        return false;
    }
    if (m_warned) return false;
    m_warned = true;
    return true;
}

int CWeighingCore::DeskIndex(const std::string& desk) {
    if (desk.empty() || desk == m_desk) return 0;
    const auto found = std::find(m_otherDesks.begin(), m_otherDesks.end(), desk);
    if (found != m_otherDesks.end()) return static_cast<int>(found - m_otherDesks.begin()) + 1;
    m_otherDesks.push_back(desk);
    return static_cast<int>(m_otherDesks.size());
}

RowRecord CWeighingCore::RecordOf(int row) const {
    const Reading& reading = m_table.Row(row);
    RowRecord record;
    record.kind = reading.kind;
    record.kilograms = reading.kind == RowKind::Weight       ? reading.kilograms
                       : reading.kind == RowKind::Overweight ? WEIGHT_OVERWEIGHT
                                                             : WEIGHT_ERROR;
    record.time = reading.time;
    for (int c = 0; c < COLUMN_COUNT; ++c) record.cells[static_cast<size_t>(c)] = m_table.Cell(row, c);
    record.desk = reading.desk == 0 ? m_desk : m_otherDesks[reading.desk - 1u];
    record.seq = reading.seq;
    record.scaleDigits = reading.scaleDigits;
    record.scaleUnit = reading.scaleUnit;
    return record;
}

bool CWeighingCore::RestoreRows(const std::vector<RowRecord>& rows) {
    RefreshWords();
    const std::wstring& prefix = m_table.Words().remarkPrefix;
    // Rows keep the numbers they were shown with (even after a clear that
    // left them behind), unless rows are shown before them.
    const bool keepNumbers = m_table.RowCount() == 0;
    for (const RowRecord& record : rows) {
        Reading reading;
        reading.kind = record.kind;
        if (record.kind == RowKind::Weight) reading.kilograms = record.kilograms;
        reading.scaleDigits = record.scaleDigits;
        reading.scaleUnit = record.scaleUnit;
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
        if (record.seq == 0) {
            reading.seq = ++m_lastSeq;
        } else {
            reading.seq = record.seq;
            reading.desk = static_cast<uint16_t>(DeskIndex(record.desk));
            if (reading.desk == 0 && record.seq > m_lastSeq) m_lastSeq = record.seq;
        }
        if (reading.kind == RowKind::Weight) m_weightSum += reading.kilograms;
        m_table.Add(std::move(reading));
    }
    RecountDecimals();
    const bool nearlyFull = NearlyFullNow();
    // New readings go on from the last number shown.
    if (keepNumbers && !rows.empty()) {
        const long last = std::wcstol(rows.back().cells[COLUMN_NUMBER].c_str(), nullptr, 10);
        if (last >= m_table.RowCount()) m_numberBase = static_cast<int>(last) - m_table.RowCount();
    }
    return nearlyFull;
}

bool CWeighingCore::SwitchUnit(int unit) {
    if (unit == m_unit) return false;
    m_unit = unit;
    m_table.SetUnit(unit);
    RefreshWords();
    RecountDecimals();
    return true;
}

void CWeighingCore::LanguageChanged() { RefreshWords(); }

void CWeighingCore::RefreshWords() {
    m_table.SetWords({Text(SECTION_HEADER, L"Error_EX"), Text(SECTION_HEADER, L"Overweight"),
                      Text(SECTION_MESSAGE, L"CMD_ERROR")});
}

void CWeighingCore::DeleteAllRows() {
    m_table.DeleteAllRows();
    m_weightSum = 0;
    m_sumDecimals = -1;
    m_numberBase = 0;
    m_warned = false;
}

void CWeighingCore::EmptyTable() {
    DeleteAllRows();
    m_tableFull = false;
}

int CWeighingCore::ClearFirstRows(int count) {
    const int rows = m_table.RowCount();
    if (count <= 0) return 0;
    if (count >= rows) {
        DeleteAllRows();
        return rows;
    }
    m_table.DeleteFirstRows(count);
    m_weightSum = 0;
    for (int i = 0; i < m_table.RowCount(); ++i)
        if (m_table.Row(i).kind == RowKind::Weight) m_weightSum += m_table.Row(i).kilograms;
    m_numberBase += count;
    if (m_table.RowCount() <= m_limits.warningRow) m_warned = false;
    RecountDecimals();
    return count;
}

}  // namespace tarvex
