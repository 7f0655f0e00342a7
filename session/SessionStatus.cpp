// The status line and the desk's state as the outputs hear it.
#include "session/Session.h"

#include "text/BoxTexts.h"
#include "text/TextCodec.h"
#include "weighing/WeightText.h"

namespace tarvex {

std::wstring CSession::StatusText() const {
    std::wstring link;
    if (m_link.IsConnected())
        link = Text(SECTION_STATUS, L"Status_Connected");
    else if (m_connection.AttemptRunning())
        link = Text(SECTION_STATUS, L"Status_Connecting");
    else if (m_connection.Watching())
        link = Text(SECTION_STATUS, L"Status_Watching");
    else
        link = Text(SECTION_STATUS, L"Status_Not_Connected");
    ReplaceAll(link, L"{port}", m_serial.PortLabel(m_serial.PortNumber()));
    const std::wstring readings = m_texts.Counted(SECTION_STATUS, L"Status_Readings", m_core.Table().RowCount());
    std::wstring sum = Text(SECTION_STATUS, L"Status_Sum");
    ReplaceAll(sum, L"{sum}", m_core.WeightSumText());
    ReplaceAll(sum, L"{unit}", std::wstring(UnitName(m_core.Unit())));
    std::wstring status = link + L"    " + readings + L"    " + sum;
    if (m_savedRows >= 0)
        status += L"    " + Filled(m_texts.Counted(SECTION_STATUS, L"Status_Saved", m_savedRows), {{L"{file}", m_savedPath}});
    if (!m_settingsKept.empty() && m_settingsKeptPort == m_serial.PortNumber())
        status += L"    " + Filled(Text(SECTION_STATUS, m_serial.IsNetworkPort(m_settingsKeptPort) ? L"Status_Server_Keeps"
                                                                                                 : L"Status_Line_Keeps"),
                                   {{L"{settings}", m_settingsKept}});
    if (!m_scaleNote.empty()) status += L"    " + m_scaleNote;
    if (!m_feeds.StatusNote().empty()) status += L"    " + m_feeds.StatusNote();
    if (const std::wstring typing = m_wedge.StatusNote(); !typing.empty()) status += L"    " + typing;
    return status;
}

DeskState CSession::State() const {
    DeskState state;
    state.desk = m_core.Desk();
    state.link = m_link.IsConnected()              ? LinkState::Connected
                 : m_connection.AttemptRunning() ? LinkState::Connecting
                 : m_connection.Watching()       ? LinkState::Waiting
                                                 : LinkState::Closed;
    state.port = L"COM" + std::to_wstring(m_serial.PortNumber());
    state.unit = m_core.Unit();
    state.readings = m_core.Table().RowCount();
    state.lastSeq = m_core.LastSeq();
    return state;
}

void CSession::TellDeskState() {
    if (m_outputs.empty()) return;
    // What an output has yet to take stays in the journal meanwhile.
    m_journal.KeepFrom(m_feeds.UnconfirmedFrom());
    const DeskState state = State();
    for (IReadingOutput* output : m_outputs) output->DeskStateChanged(state);
}

}  // namespace tarvex
