#pragma once
// The journal as the first output: every reading on disk, with its seq,
// before the scale hears it arrived; rows that leave the table stay in it
// for outputs that ask again.

#include "journal/Journal.h"
#include "outputs/ReadingOutput.h"
#include "weighing/WeighingCore.h"

namespace tarvex {

class CJournalOutput : public IReadingOutput {
public:
    CJournalOutput(CJournal& journal, const CWeighingCore& core) : m_journal(journal), m_core(core) {}
    void ReadingAdded(const AddedReading& reading) override;
    void RowsCleared(const ClearedRows& cleared) override;
    void LinkStateChanged(bool) override {}
    // Rows from firstRow on were shown again from another copy's journal.
    void RowsHandedOver(int firstRow);

private:
    CJournal& m_journal;
    const CWeighingCore& m_core;
};

}  // namespace tarvex
