#include "weighing/MeasurementTable.h"

#include "weighing/CellTexts.h"
#include "weighing/WeightText.h"

namespace tarvex {

int CMeasurementTable::Add(Reading reading) {
    m_rows.push_back(std::move(reading));
    return RowCount() - 1;
}

std::wstring CMeasurementTable::Cell(int row, int column) const {
    const Reading& r = Row(row);
    switch (column) {
        case COLUMN_NUMBER: return FormatRowNumber(r.number - 1);
        case COLUMN_DATA: return DataText(r);
        case COLUMN_UNIT: return std::wstring(UnitName(m_unit));
        case COLUMN_DURATION: return FormatDuration(r.sinceStart);
        case COLUMN_UPDATE_TIME: return UpdateTimeText(r.time);
        case COLUMN_EXPLAN: return RemarkText(r);
        default: return {};
    }
}

std::wstring CMeasurementTable::DataText(const Reading& r) const {
    switch (r.kind) {
        case RowKind::Overweight: return m_words.overweight;
        case RowKind::Error: return m_words.error;
        default:
            return r.scaleUnit.empty() ? FormatWeightText(r.kilograms, m_unit)
                                       : FormatScaleWeightText(r.scaleDigits, r.scaleUnit, r.kilograms, m_unit);
    }
}

std::wstring CMeasurementTable::RemarkText(const Reading& r) const {
    switch (r.remarkKind) {
        case RemarkKind::FrameBytes: return m_words.remarkPrefix + r.remark;
        case RemarkKind::AsWritten: return r.remark;
        default: return {};
    }
}

const std::wstring& CMeasurementTable::UpdateTimeText(int64_t time) const {
    if (time != m_lastTime) {
        m_lastTimeText = FormatUpdateTime(time);
        m_lastTime = time;
    }
    return m_lastTimeText;
}

void CMeasurementTable::DeleteAllRows() {
    // Keep the capacity: a full table is emptied and filled again at once.
    m_rows.clear();
}

void CMeasurementTable::DeleteFirstRows(int count) {
    if (count >= RowCount()) {
        DeleteAllRows();
        return;
    }
    if (count > 0) m_rows.erase(m_rows.begin(), m_rows.begin() + count);
}

}  // namespace tarvex
