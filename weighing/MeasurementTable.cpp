#include "MeasurementTable.h"

namespace tarvex {

int CMeasurementTable::AddRow(std::wstring numberText) {
    Row& row = m_rows.emplace_back();
    row[COLUMN_NUMBER] = std::move(numberText);
    return RowCount() - 1;
}

void CMeasurementTable::SetCell(int row, int column, std::wstring text) {
    m_rows.at(static_cast<size_t>(row)).at(static_cast<size_t>(column)) = std::move(text);
}

const std::wstring& CMeasurementTable::Cell(int row, int column) const {
    return m_rows.at(static_cast<size_t>(row)).at(static_cast<size_t>(column));
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
