#pragma once
// The window as an output: it shows each reading as it comes, the table
// after a clear and the link's state.

#include "outputs/ReadingOutput.h"
#include "session/SessionUi.h"

namespace tarvex {

class CWindowOutput : public IReadingOutput {
public:
    explicit CWindowOutput(ISessionUi& ui) : m_ui(ui) {}
    void ReadingAdded(const AddedReading& reading) override { m_ui.RowAdded(reading.row); }
    void RowsCleared(const ClearedRows&) override { m_ui.RowsChanged(); }
    void LinkStateChanged(bool connected) override { m_ui.ShowLinkState(connected); }

private:
    ISessionUi& m_ui;
};

}  // namespace tarvex
