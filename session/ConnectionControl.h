#pragma once
// The open/close button, the handshake on a chosen port and the automatic
// search over every port found. Runs on the window thread as a small state
// machine driven by the scale's reply and a one-shot timer, so no worker
// thread ever touches the window.

#include <cstdint>
#include <string_view>

namespace tarvex {

class CFrameLink;
class CSerialPort;
class CWeighingCore;
class ISerialOwner;

constexpr int HANDSHAKE_WAIT_MS = 2000;
constexpr int SEARCH_WAIT_MS = 200;
// How often a port whose device went away is tried again.
constexpr int WATCH_INTERVAL_MS = 1000;

class IConnectionUi {
public:
    virtual ~IConnectionUi() = default;
    virtual int SelectedPortEntry() const = 0;  // -1 when the list is empty
    virtual void RefreshUnitFromButtons() = 0;
    virtual void ApplyConnected() = 0;
    virtual void ApplyDisconnected() = 0;
    virtual void ShowNotice(std::wstring_view messageKey) = 0;  // waits for OK
    // No port to try: says why (a device this user may not open, or none).
    virtual void ShowNoPort() = 0;
    virtual void StartAttemptTimer(int milliseconds) = 0;      // calls OnAttemptTimer once
    virtual void StopAttemptTimer() = 0;
    // Calls OnWatchTimer every WATCH_INTERVAL_MS while running.
    virtual void SetWatchTimer(bool running) = 0;
};

class CConnectionControl {
public:
    CConnectionControl(CSerialPort& port, ISerialOwner& owner, CWeighingCore& core, const CFrameLink& link,
                       IConnectionUi& ui);

    void OnOpenCloseConnection();
    void BeginHandshake();
    // A burst arrived while not connected; its first byte may answer the
    // greeting.
    void OnReply(uint8_t firstByte);
    void OnAttemptTimer();  // the attempt's wait is over
    // The device went away and the driver reports it; that report is all
    // the user needs, so a running attempt ends without a notice of its own.
    void OnPortRemoved();
    // After a full table was cleared: the selected port again (the first
    // found one for the automatic search), then the handshake.
    void RestartAfterFullTable();
    bool AttemptRunning() const { return m_attempt != Attempt::None; }

    // The device of an open link went away by itself: its port is tried
    // again every second and, once the scale answers, the link is back.
    void StartWatching(int portNumber);
    // A press of the open button or of Refresh: the user takes over.
    void StopWatching();
    bool Watching() const { return m_watchPort != 0; }
    int WatchedPort() const { return m_watchPort; }
    void OnWatchTimer();

private:
    enum class Attempt { None, ChosenPort, Search, Reconnect };

    bool OpenAndStart(int portNumber);
    void StartSearchAttempt();
    void StartAttempt(Attempt kind, int waitMs);
    void Judge(bool replied);

    CSerialPort& m_port;
    ISerialOwner& m_owner;
    CWeighingCore& m_core;
    const CFrameLink& m_link;
    IConnectionUi& m_ui;
    Attempt m_attempt = Attempt::None;
    int m_searchIndex = 0;
    int m_watchPort = 0;
    uint8_t m_reply = 0;  // first byte of the last burst while not connected
};

}  // namespace tarvex
