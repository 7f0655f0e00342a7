#pragma once
// The open/close button, the handshake on a chosen port and the automatic
// search over every port found. Runs on the window thread as a small state
// machine driven by the scale's reply and a one-shot timer, so no worker
// thread ever touches the window. Each step returns what it came to; the
// session shows it and runs the timers.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvex {

class CFrameLink;
class CSerialPort;
class ISerialOwner;

constexpr int HANDSHAKE_WAIT_MS = 2000;
constexpr int SEARCH_WAIT_MS = 200;
// How often a port whose device went away is tried again.
constexpr int WATCH_INTERVAL_MS = 1000;

struct ConnectionVerdict {
    bool linkUp = false;          // the scale answered: the link is open
    bool linkDown = false;        // the user closed the link
    bool portOpened = false;      // a port was opened: the readings' clock starts anew
    int attemptWaitMs = 0;        // an attempt began: OnAttemptTimer after this long
    bool attemptEnded = false;    // the attempt's timer is no longer wanted
    std::optional<bool> watch;    // the watch timer starts (true) or stops (false)
    std::wstring_view noticeKey;  // a message to tell, waiting for OK; empty for none
    bool noPort = false;          // no port to try: say why
};

// What the scale is sent to confirm it is there, and as the link ends: the
// frames' 0x5A and 0x3A by default. Bytes of one protocol are never sent to
// a scale of another (0x5A is "Z", zero, to a Toledo scale).
struct ScaleGreeting {
    std::string hello;
    std::string farewell;  // empty: nothing is sent
};

// The frames' scale: 0x5A to greet it, 0x3A as the link ends.
ScaleGreeting FramesGreeting();

class CConnectionControl {
public:
    CConnectionControl(CSerialPort& port, ISerialOwner& owner, const CFrameLink& link);

    void SetGreeting(ScaleGreeting greeting) { m_greeting = std::move(greeting); }
    const ScaleGreeting& Greeting() const { return m_greeting; }

    // selectedEntry: the port list's line, -1 when the list is empty.
    ConnectionVerdict OnOpenCloseConnection(int selectedEntry);
    // A burst arrived while not connected: whether it answers the greeting
    // (the frames' scale: its first byte; others: an answer of the protocol).
    ConnectionVerdict OnReply(bool answers);
    ConnectionVerdict OnAttemptTimer();  // the attempt's wait is over
    // The device went away and the driver reports it; that report is all
    // the user needs, so a running attempt ends without a notice of its own.
    // The network port's server was not reached: no answer will come.
    ConnectionVerdict OnPortUnreached();
    ConnectionVerdict OnPortRemoved();
    // After a full table was emptied: the selected port again (the first
    // found one for the automatic search), then the handshake.
    ConnectionVerdict RestartAfterFullTable(int selectedEntry);
    bool AttemptRunning() const { return m_attempt != Attempt::None; }

    // The device of an open link went away by itself: its port is tried
    // again every second and, once the scale answers, the link is back.
    ConnectionVerdict StartWatching(int portNumber);
    // A press of the open button or of Refresh: the user takes over.
    ConnectionVerdict StopWatching();
    bool Watching() const { return m_watchPort != 0; }
    int WatchedPort() const { return m_watchPort; }
    ConnectionVerdict OnWatchTimer();

private:
    enum class Attempt { None, ChosenPort, Search, Reconnect };

    bool OpenAndStart(int portNumber, ConnectionVerdict& verdict);
    void StartAttempt(Attempt kind, int waitMs, ConnectionVerdict& verdict);
    void StopWatchingInto(ConnectionVerdict& verdict);
    ConnectionVerdict Judge(bool replied);

    CSerialPort& m_port;
    ISerialOwner& m_owner;
    const CFrameLink& m_link;
    Attempt m_attempt = Attempt::None;
    int m_searchIndex = 0;
    int m_watchPort = 0;
    bool m_answered = false;  // the last burst while not connected answered the greeting
    bool m_openedUsbScale = false;  // the port opened last is a USB scale, which its descriptor confirmed
    ScaleGreeting m_greeting;
};

}  // namespace tarvex
