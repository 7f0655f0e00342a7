#include "session/ConnectionControl.h"

#include "serial/SerialPort.h"
#include "weighing/FrameLink.h"
#include "weighing/WeighingCore.h"

namespace tarvex {

CConnectionControl::CConnectionControl(CSerialPort& port, ISerialOwner& owner, CWeighingCore& core,
                                       const CFrameLink& link, IConnectionUi& ui)
    : m_port(port), m_owner(owner), m_core(core), m_link(link), m_ui(ui) {}

void CConnectionControl::OnOpenCloseConnection() {
    StopWatching();
    // A press while an attempt runs would start a second one beside it; the
    // attempt ends by itself within two seconds.
    if (AttemptRunning()) return;
    if (m_link.IsConnected()) {
        // The scale hears 0x3A after every acknowledge already asked for;
        // nothing here waits for the reader.
        const uint8_t stop = CMD_STOP;
        m_port.RequestSendThenStop(&stop, 1);
        m_ui.ApplyDisconnected();
        return;
    }
    m_ui.RefreshUnitFromButtons();
    const int entry = m_ui.SelectedPortEntry();
    const auto& table = m_port.PortTable();
    if (entry >= 1 && entry < PORT_TABLE_SIZE && entry <= table[0]) {
        OpenAndStart(table[static_cast<size_t>(entry)]);
        BeginHandshake();
    } else if (entry == 0 && table[0] > 0) {
        m_searchIndex = 1;
        OpenAndStart(table[1]);
        StartSearchAttempt();
    } else {
        m_ui.ShowNoPort();
    }
}

bool CConnectionControl::OpenAndStart(int portNumber) {
    if (!m_port.OpenPort(&m_owner, portNumber)) return false;
    m_port.StartReader();
    m_core.ResetStartTime();
    return true;
}

void CConnectionControl::BeginHandshake() { StartAttempt(Attempt::ChosenPort, HANDSHAKE_WAIT_MS); }

void CConnectionControl::StartSearchAttempt() { StartAttempt(Attempt::Search, SEARCH_WAIT_MS); }

void CConnectionControl::StartAttempt(Attempt kind, int waitMs) {
    m_attempt = kind;
    const uint8_t hello = CMD_HANDSHAKE;
    m_port.RequestWrite(&hello, 1);
    m_ui.StartAttemptTimer(waitMs);
}

void CConnectionControl::StartWatching(int portNumber) {
    m_watchPort = portNumber;
    m_ui.SetWatchTimer(true);
}

void CConnectionControl::StopWatching() {
    if (!Watching()) return;
    m_watchPort = 0;
    m_ui.SetWatchTimer(false);
}

void CConnectionControl::OnWatchTimer() {
    if (!Watching() || AttemptRunning()) return;
    // Opening a device that is not there costs one failed open a second.
    if (!OpenAndStart(m_watchPort)) return;
    StartAttempt(Attempt::Reconnect, HANDSHAKE_WAIT_MS);
}

void CConnectionControl::OnReply(uint8_t firstByte) {
    m_reply = firstByte;
    if (AttemptRunning()) Judge(true);
}

void CConnectionControl::OnAttemptTimer() {
    if (AttemptRunning()) Judge(false);
}

void CConnectionControl::OnPortRemoved() {
    if (!AttemptRunning()) return;
    m_attempt = Attempt::None;
    m_ui.StopAttemptTimer();
}

void CConnectionControl::Judge(bool replied) {
    // Only a burst of this attempt counts: what an earlier link left in the
    // receive buffer must never pass for an answer of a silent port.
    const Attempt attempt = m_attempt;
    m_attempt = Attempt::None;
    m_ui.StopAttemptTimer();
    if (replied && m_reply == FRAME_HANDSHAKE_REPLY) {
        StopWatching();
        m_ui.ApplyConnected();
        return;
    }
    m_port.RequestStop();
    // The device is back but the scale not yet: tried again on the next tick.
    if (attempt == Attempt::Reconnect) return;
    if (attempt == Attempt::ChosenPort) {
        m_ui.ShowNotice(L"Connection_Fails");
        return;
    }
    const auto& table = m_port.PortTable();
    ++m_searchIndex;
    if (m_searchIndex > table[0] || m_searchIndex >= PORT_TABLE_SIZE) {
        m_ui.ShowNotice(L"Auto_Error");
        return;
    }
    OpenAndStart(table[static_cast<size_t>(m_searchIndex)]);
    StartSearchAttempt();
}

void CConnectionControl::RestartAfterFullTable() {
    if (AttemptRunning()) return;
    const int entry = m_ui.SelectedPortEntry();
    const auto& table = m_port.PortTable();
    const int slot = (entry >= 1 && entry < PORT_TABLE_SIZE) ? entry : 1;
    OpenAndStart(table[static_cast<size_t>(slot)]);
    BeginHandshake();
}

}  // namespace tarvex
