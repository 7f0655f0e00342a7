#include "session/ConnectionControl.h"

#include "serial/SerialPort.h"
#include "weighing/FrameLink.h"
#include "weighing/ScaleBytes.h"

namespace tarvex {

CConnectionControl::CConnectionControl(CSerialPort& port, ISerialOwner& owner, const CFrameLink& link)
    : m_port(port),
      m_owner(owner),
      m_link(link),
      m_greeting(FramesGreeting()) {}

ScaleGreeting FramesGreeting() {
    return {std::string(1, static_cast<char>(CMD_HANDSHAKE)), std::string(1, static_cast<char>(CMD_STOP))};
}

ConnectionVerdict CConnectionControl::OnOpenCloseConnection(int entry) {
    ConnectionVerdict verdict;
    StopWatchingInto(verdict);
    // A press while an attempt runs would start a second one beside it; the
    // attempt ends by itself within two seconds.
    if (AttemptRunning()) return verdict;
    if (m_link.IsConnected()) {
        // The scale hears the farewell after every acknowledge already
        // asked for; nothing here waits for the reader.
        m_port.RequestSendThenStop(reinterpret_cast<const uint8_t*>(m_greeting.farewell.data()),
                                   static_cast<int>(m_greeting.farewell.size()));
        verdict.linkDown = true;
        return verdict;
    }
    const auto& table = m_port.PortTable();
    if (entry >= 1 && entry < PORT_TABLE_SIZE && entry <= table[0]) {
        OpenAndStart(table[static_cast<size_t>(entry)], verdict);
        StartAttempt(Attempt::ChosenPort, HANDSHAKE_WAIT_MS, verdict);
    } else if (entry == 0 && table[0] > 0) {
        m_searchIndex = 1;
        OpenAndStart(table[1], verdict);
        StartAttempt(Attempt::Search, SEARCH_WAIT_MS, verdict);
    } else {
        verdict.noPort = true;
    }
    return verdict;
}

bool CConnectionControl::OpenAndStart(int portNumber, ConnectionVerdict& verdict) {
    m_openedUsbScale = false;
    if (!m_port.OpenPort(&m_owner, portNumber)) return false;
    m_openedUsbScale = m_port.HidScale(static_cast<unsigned>(portNumber)) != nullptr;
    m_port.StartReader();
    verdict.portOpened = true;
    return true;
}

void CConnectionControl::StartAttempt(Attempt kind, int waitMs, ConnectionVerdict& verdict) {
    if (m_openedUsbScale) {
        // Its descriptor said it is a scale; it is sent nothing, and it
        // speaks when its weight changes, not when asked.
        m_attempt = Attempt::None;
        StopWatchingInto(verdict);
        verdict.linkUp = true;
        return;
    }
    m_attempt = kind;
    m_port.RequestWrite(reinterpret_cast<const uint8_t*>(m_greeting.hello.data()),
                        static_cast<int>(m_greeting.hello.size()));
    verdict.attemptWaitMs = waitMs;
}

ConnectionVerdict CConnectionControl::StartWatching(int portNumber) {
    m_watchPort = portNumber;
    ConnectionVerdict verdict;
    verdict.watch = true;
    return verdict;
}

ConnectionVerdict CConnectionControl::StopWatching() {
    ConnectionVerdict verdict;
    StopWatchingInto(verdict);
    return verdict;
}

void CConnectionControl::StopWatchingInto(ConnectionVerdict& verdict) {
    if (!Watching()) return;
    m_watchPort = 0;
    verdict.watch = false;
}

ConnectionVerdict CConnectionControl::OnWatchTimer() {
    ConnectionVerdict verdict;
    if (!Watching() || AttemptRunning()) return verdict;
    // Opening a device that is not there costs one failed open a second.
    if (OpenAndStart(m_watchPort, verdict)) StartAttempt(Attempt::Reconnect, HANDSHAKE_WAIT_MS, verdict);
    return verdict;
}

ConnectionVerdict CConnectionControl::OnReply(bool answers) {
    m_answered = answers;
    return AttemptRunning() ? Judge(true) : ConnectionVerdict{};
}

ConnectionVerdict CConnectionControl::OnAttemptTimer() {
    return AttemptRunning() ? Judge(false) : ConnectionVerdict{};
}

ConnectionVerdict CConnectionControl::OnPortUnreached() {
    return AttemptRunning() ? Judge(false) : ConnectionVerdict{};
}

ConnectionVerdict CConnectionControl::OnPortRemoved() {
    ConnectionVerdict verdict;
    if (!AttemptRunning()) return verdict;
    m_attempt = Attempt::None;
    verdict.attemptEnded = true;
    return verdict;
}

ConnectionVerdict CConnectionControl::Judge(bool replied) {
    // Only a burst of this attempt counts: what an earlier link left in the
    // receive buffer must never pass for an answer of a silent port.
    const Attempt attempt = m_attempt;
    m_attempt = Attempt::None;
    ConnectionVerdict verdict;
    verdict.attemptEnded = true;
    if (replied && m_answered) {
        StopWatchingInto(verdict);
        verdict.linkUp = true;
        return verdict;
    }
    m_port.RequestStop();
    // The device is back but the scale not yet: tried again on the next tick.
    if (attempt == Attempt::Reconnect) return verdict;
    if (attempt == Attempt::ChosenPort) {
        verdict.noticeKey = L"Connection_Fails";
        return verdict;
    }
    const auto& table = m_port.PortTable();
    ++m_searchIndex;
    if (m_searchIndex > table[0] || m_searchIndex >= PORT_TABLE_SIZE) {
        verdict.noticeKey = L"Auto_Error";
        return verdict;
    }
    OpenAndStart(table[static_cast<size_t>(m_searchIndex)], verdict);
    StartAttempt(Attempt::Search, SEARCH_WAIT_MS, verdict);
    return verdict;
}

ConnectionVerdict CConnectionControl::RestartAfterFullTable(int entry) {
    ConnectionVerdict verdict;
    if (AttemptRunning()) return verdict;
    const auto& table = m_port.PortTable();
    const int slot = (entry >= 1 && entry < PORT_TABLE_SIZE) ? entry : 1;
    OpenAndStart(table[static_cast<size_t>(slot)], verdict);
    StartAttempt(Attempt::ChosenPort, HANDSHAKE_WAIT_MS, verdict);
    return verdict;
}

}  // namespace tarvex
