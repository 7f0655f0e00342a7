#include "session/JournalOutput.h"

namespace tarvex {

void CJournalOutput::ReadingAdded(const AddedReading& reading) {
    // A journal that failed to write takes the whole table once the disk
    // has room again, this row included.
    if (m_journal.WantsWholeTable())
        m_journal.WriteWholeTable(m_core.Table().RowCount(), [this](int r) { return m_core.RecordOf(r); });
    else
        m_journal.RowAdded(reading.row, reading.Record());
}

void CJournalOutput::RowsCleared(const ClearedRows& cleared) {
    if (cleared.all)
        m_journal.TableEmptied(cleared.unsaved);
    else
        m_journal.FirstRowsCleared(cleared.count);
    if (m_journal.WantsNewFile())
        m_journal.StartNewFile(m_core.Table().RowCount(), [this](int r) { return m_core.RecordOf(r); });
}

void CJournalOutput::RowsHandedOver(int firstRow) {
    for (int row = firstRow; row < m_core.Table().RowCount(); ++row) m_journal.RowAdded(row, m_core.RecordOf(row));
}

}  // namespace tarvex
