// The ports and the link: connect, disconnect, the search, a removed or
// unreached port, and the line falling quiet.
#include "session/Session.h"

#include "serial/SerialPlatform.h"
#include "text/BoxTexts.h"
#include "text/TextCodec.h"

namespace tarvex {

void CSession::OnOpenCloseConnection() {
    if (!m_link.IsConnected() && !m_connection.AttemptRunning()) {
        if (TellUsbScaleRefused()) return;
        SwitchUnit(m_ui.SelectedUnit());
    }
    Apply(m_connection.OnOpenCloseConnection(m_ui.SelectedPortEntry()));
}

void CSession::Apply(const ConnectionVerdict& verdict) {
    if (verdict.portOpened) m_core.ResetStartTime();
    if (verdict.attemptEnded) {
        m_ui.StopTimer(SessionTimer::Attempt);
        // The attempt is over but its verdict not yet shown: by whatever
        // the verdict changes next, or by the next row.
        m_ui.Post([this] { m_ui.ShowStatus(); });
    }
    if (verdict.watch) {
        if (*verdict.watch)
            m_ui.StartTimer(SessionTimer::Watch, WATCH_INTERVAL_MS, true);
        else
            m_ui.StopTimer(SessionTimer::Watch);
        m_ui.ShowStatus();
    }
    if (verdict.attemptWaitMs > 0) {
        m_ui.StartTimer(SessionTimer::Attempt, verdict.attemptWaitMs, false);
        m_ui.ShowStatus();
    }
    if (verdict.linkUp) ApplyConnected();
    if (verdict.linkDown) ApplyDisconnected();
    if (verdict.noPort) ShowMissingPorts(L"No_Port");
    if (m_finding && verdict.linkUp) {
        FoundProtocol();
    } else if (m_finding && verdict.noticeKey == L"Connection_Fails") {
        // This protocol was not answered: the next one, once the attempt's reader has ended.
        m_ui.Post([this] { TryNextProtocol(); });
    } else if (!verdict.noticeKey.empty()) {
        ShowNotice(verdict.noticeKey);
    }
    TellDeskState();
}


void CSession::OnRefreshPorts() {
    // A refresh would rewrite the port table that a running attempt walks.
    if (m_connection.AttemptRunning()) return;
    Apply(m_connection.StopWatching());
    ProbeAndShowPorts();
}

bool CSession::ProbeAndShowPorts() {
    // Read again each time: the user may have plugged in or mapped a port.
    m_serial.SetPortMap(m_portsOverride ? *m_portsOverride : CPortMap::FromSettings(m_settingFile, m_userSettingFile));
    // The window keeps drawing while network ports are asked.
    if (!m_serial.ProbePorts([this] { m_ui.KeepDrawing(); })) {
        m_ui.ShowPorts({});
        ShowMissingPorts(L"Serial_Port_Abnormal");
        return false;
    }
    std::vector<std::wstring> entries{L"自动检索"};
    const auto& table = m_serial.PortTable();
    for (int k = 1; k <= table[0]; ++k) {
        const auto port = static_cast<unsigned>(table[static_cast<size_t>(k)]);
        const HidScaleDevice* usb = m_serial.HidScale(port);
        if (!usb)
            entries.push_back(L"COM" + std::to_wstring(port));
        else if (usb->openError != 0)
            entries.push_back(Filled(Text(L"Scale", L"Usb_No_Permission_Entry"), {{L"{name}", WideFromUtf8(usb->name)}}));
        else
            entries.push_back(WideFromUtf8(usb->name));
    }
    m_ui.ShowPorts(entries);
    return true;
}

void CSession::ShowMissingPorts(std::wstring_view key) {
    const std::string& device = m_serial.RefusedDevice();
    if (device.empty()) {
        ShowNotice(key);
        return;
    }
    m_ui.Tell(MessageText(m_texts, L"Port_No_Permission",
                          {{L"{device}", WideFromUtf8(device)}, {L"{group}", WideFromUtf8(platform::OwningGroup(device))}}));
}

bool CSession::Close(bool mayRefuse) {
    // Only Yes closes: Escape and the close box mean "don't" here as on
    // every desktop, and the question guards readings not yet saved.
    if (m_core.Table().RowCount() > 0 && mayRefuse && m_ui.AskYesNo(Text(SECTION_MESSAGE, L"Close_Exe")) != ANSWER_YES)
        return false;
    if (m_link.IsConnected()) {
        // The reader sends the stop byte after every acknowledge already
        // asked for, then ends; it never waits for this thread meanwhile.
        SendStopAndEnd();
        m_serial.WaitForFinish(FINISH_WAIT_MS);
    }
    return true;
}

void CSession::OnTimer(SessionTimer timer) {
    switch (timer) {
        case SessionTimer::Attempt: Apply(m_connection.OnAttemptTimer()); break;
        case SessionTimer::Watch: Apply(m_connection.OnWatchTimer()); break;
        case SessionTimer::Scale:
        case SessionTimer::Settle:
            if (m_liveScale) TakeScaleNews(m_liveScale->Tick(ScaleClockMs()));
            break;
        case SessionTimer::Quiet:
            // The timer runs on the window's clock; bytes the reader has not
            // handed over yet (a busy machine) mean the line was not quiet.
            if (!m_serial.LineQuiet())
                m_ui.StartTimer(SessionTimer::Quiet, m_serial.QuietMs(), false);
            else if (m_judging)
                // A question asked while a frame is judged runs the event
                // loop; the open frame waits for that judging to end.
                WatchLineQuiet(true);
            else if (const Frame frame = m_link.Flush(); !frame.empty())
                TakeFrame(frame);
            break;
    }
}

void CSession::WatchLineQuiet(bool open) {
    if (open)
        m_ui.StartTimer(SessionTimer::Quiet, m_serial.QuietMs(), false);
    else
        m_ui.StopTimer(SessionTimer::Quiet);
}

void CSession::SendStopAndEnd() {
    const std::string& farewell = m_connection.Greeting().farewell;
    m_serial.RequestSendThenStop(reinterpret_cast<const uint8_t*>(farewell.data()), static_cast<int>(farewell.size()));
}

void CSession::ApplyConnected() {
    m_ui.HidePortReport();  // whatever it reported is over
    if (const HidScaleDevice* usb = m_serial.HidScale(m_serial.PortNumber())) UseUsbScale(*usb);
    m_link.SetConnected(true);
    if (m_liveScale) {
        const std::string poll = m_liveScale->Protocol().Command(ScaleCommand::Poll);
        if (!poll.empty()) m_serial.StartPolling(poll, m_scaleSettings.pollMs);
        m_ui.StartTimer(SessionTimer::Scale, SCALE_TICK_MS, true);
    }
    LinkStateChanged(true);
    ShowScaleCommands();
}

void CSession::ApplyDisconnected() {
    m_link.SetConnected(false);
    if (m_liveScale) {
        m_ui.StopTimer(SessionTimer::Scale);
        m_ui.StopTimer(SessionTimer::Settle);
        m_liveScale->Reset();
        ShowLiveWeight();
    }
    LinkStateChanged(false);
    // A USB scale's own reading ends with its link: the chosen protocol is back.
    if (m_liveScale && m_liveScale->Protocol().Kind() == ScaleProtocolKind::Hid) UseScale();
    ShowScaleCommands();
}

void CSession::ShowPortError(const std::wstring& text, const std::wstring& caption) { m_ui.ShowPortReport(text, caption); }

void CSession::OnPortRemoved(unsigned portNumber) {
    // The rows stay, and the link comes back by itself with the device.
    Apply(m_connection.OnPortRemoved());
    if (!m_link.IsConnected()) return;
    ApplyDisconnected();
    Apply(m_connection.StartWatching(static_cast<int>(portNumber)));
    m_ui.ShowStatus();
}

void CSession::OnPortUnreached(unsigned) {
    // As a silent scale, without waiting out the handshake's time.
    Apply(m_connection.OnPortUnreached());
}

void CSession::OnLineSettingsKept(unsigned portNumber, const std::wstring& settings) {
    m_settingsKept = settings;
    m_settingsKeptPort = portNumber;
    m_ui.ShowStatus();
}

}  // namespace tarvex
