#pragma once
// Owns one serial port at a time: opens and configures it, runs the reader
// thread that delivers every burst to the owner and sends the bytes asked
// for, and holds the table of ports found by the probe.

#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/HidScales.h"
#include "serial/PortMap.h"
#include "serial/SerialLine.h"
#include "serial/SerialOwner.h"
#include "serial/SerialPlatform.h"

namespace tarvex {

constexpr int SERIAL_BUFFER_SIZE = 1024;
constexpr int SERIAL_TIMEOUT_MS = 1000;
// Bytes written under one time limit: 9600 baud carries them well within it.
constexpr int SERIAL_WRITE_PIECE = 256;
constexpr int PORT_TABLE_SIZE = 20;
// USB scales are numbered from here in the port table, after every COM port.
constexpr int HID_PORT_FIRST = 100;
// How long ending the link waits for the last bytes to go out.
constexpr int FINISH_WAIT_MS = 200;

// The report of a failed port operation: its caption, and its text with
// the system's reason for the error code.
inline constexpr wchar_t PORT_ERROR_CAPTION[] = L"Application Error";
// In place of a system error code: the port said it is gone.
constexpr int DEVICE_GONE = -1;
inline constexpr wchar_t DEVICE_GONE_TEXT[] = L"The serial device was removed or its other end was closed.";
// A polled scale that leaves this many polls in a row unanswered is taken as
// unplugged: the line may be there, the scale is not.
constexpr int SILENT_POLLS = 3;
constexpr int SCALE_SILENT = -2;
inline constexpr char POLL_STEP[] = "Poll";
inline constexpr wchar_t SCALE_SILENT_TEXT[] = L"The scale did not answer three polls in a row.";
// A network port's address follows its number.
std::wstring PortErrorText(const char* operation, int error, unsigned port, const std::string& address = {});

class CSerialPort {
public:
    CSerialPort() = default;
    virtual ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    void SetPortMap(CPortMap map);
    // For the ports opened from now on.
    void SetLineSettings(const LineSettings& settings) { m_lineSettings = settings; }
    // The frames' scale wants what it sent before an acknowledge thrown
    // away; a scale that is asked keeps its answers.
    void SetPurgeBeforeWrite(bool purge) { m_purgeBeforeWrite = purge; }

    // Ends a running reader first. False, silently, when the device cannot
    // be opened; true otherwise, also when a configuration step failed and
    // was reported.
    bool OpenPort(ISerialOwner* owner, int portNumber);
    bool StartReader();
    // Queued after the bytes already asked for and not yet sent.
    void RequestWrite(const uint8_t* bytes, int count);
    // The program ends the link: the reader sends everything queued and these
    // bytes, then ends. Never waits; a hand-off in progress gives way to it.
    void RequestSendThenStop(const uint8_t* bytes, int count);
    // Ends the reader at its next wait; outranks any pending write.
    void RequestStop();
    // The reader sends bytes at once and then every everyMs, until the link
    // ends or StopPolling; SILENT_POLLS in a row with nothing read between
    // them end the link as an unplugged device would.
    void StartPolling(std::string bytes, int everyMs);
    void StopPolling();
    // After RequestSendThenStop: waits until the reader has ended, at most
    // the time given. True when no reader runs any more.
    bool WaitForFinish(int timeoutMs);
    // Network ports count when they accept a connection within half a
    // second; whileWaiting runs every few milliseconds meanwhile. USB scales
    // follow the COM ports, also those this user may not open.
    bool ProbePorts(const std::function<void()>& whileWaiting = {});
    // A mapped device the last probe was not allowed to open; empty if none.
    const std::string& RefusedDevice() const { return m_refusedDevice; }
    // Ends the reader and waits for it; the owner calls this before it goes.
    void Shutdown() { EndReader(); }

    const std::array<int, PORT_TABLE_SIZE>& PortTable() const { return m_portTable; }
    bool ReaderRunning() const { return m_readerRunning.load(); }
    // No byte has come in for the line's quiet time and none waits to be
    // read: the line itself is quiet, however late the threads that handle
    // it run.
    bool LineQuiet();
    // How long the open line must stay silent to count as quiet.
    int QuietMs() const { return m_quietMs.load(); }
    unsigned PortNumber() const { return m_portNumber; }
    bool IsNetworkPort(unsigned portNumber) const { return !NetworkLabel(portNumber).empty(); }
    // The USB scale a port number stands for; null for a COM port.
    const HidScaleDevice* HidScale(unsigned portNumber) const;
    // "COM12", or "COM12 (192.168.1.50:4001)" for a network port; a USB
    // scale's own name.
    std::wstring PortLabel(unsigned portNumber) const;

private:
    std::atomic<int64_t> m_lastReceive{0};  // steady-clock ticks of the last read with bytes
    std::atomic<int> m_quietMs{DEVICE_LINE_QUIET_MS};  // of the line opened last
    // Everything one OpenPort sets up, shared with the work it hands to the
    // owner so that a stop can abandon that work safely.
    struct Session {
        platform::CWaitEvent stopEvent;
        platform::CWaitEvent writeEvent;
        std::mutex lock;
        std::condition_variable changed;
        std::atomic<bool> stopRequested{false};
        std::atomic<bool> finishRequested{false};
        bool ended = false;
        // Grows as needed: every row of a burst gets its acknowledge.
        std::vector<uint8_t> writeBuffer;
        // The poll and when it goes next (steady-clock ticks); none when empty.
        std::string poll;
        int pollEveryMs = 0;
        int64_t nextPoll = 0;
        std::atomic<bool> answered{true};  // bytes came since the last poll
        int unanswered = 0;                // polls in a row without them (the reader's)

        bool Ending() const { return stopRequested || finishRequested; }
    };

    void EndReader();
    std::string NetworkLabel(unsigned portNumber) const;  // empty for a device
    void TellSettingsKept(const std::shared_ptr<Session>& session);
    void QueueWrite(Session& session, const uint8_t* bytes, int count);
    void ReaderLoop(std::shared_ptr<Session> session);
    bool DrainInput(const std::shared_ptr<Session>& session);
    void SendWriteBuffer(const std::shared_ptr<Session>& session);
    // Milliseconds to the next poll; -1 when none is due.
    int PollWaitMs(Session& session);
    // Sends the poll that is due; false when the scale has gone silent.
    bool SendPoll(const std::shared_ptr<Session>& session);
    void ReportPortError(const char* operation, int error, const std::shared_ptr<Session>& session);
    // Runs work on the owner's thread and waits for it, or for a stop.
    void SendToOwner(const std::shared_ptr<Session>& session, std::function<void()> work);
    std::shared_ptr<Session> CurrentSession() const;

    std::vector<uint8_t> m_sending;  // the reader's: what it writes now
    std::thread m_readerThread;
    std::recursive_mutex m_portLock;
    std::atomic<bool> m_readerRunning{false};
    std::unique_ptr<ISerialLine> m_line;  // guarded by m_portLock but for the reader's waits
    mutable std::mutex m_sessionLock;
    std::shared_ptr<Session> m_session;
    ISerialOwner* m_owner = nullptr;
    unsigned m_portNumber = 0;
    std::string m_portAddress;  // of a network port, set before its reader starts
    CPortMap m_portMap = CPortMap::Empty();
    LineSettings m_lineSettings;
    std::atomic<bool> m_purgeBeforeWrite{true};
    std::array<int, PORT_TABLE_SIZE> m_portTable{};
    std::vector<HidScaleDevice> m_hidScales;  // as the last probe found them
    std::string m_refusedDevice;
    std::vector<std::wstring> m_settingsTold;  // the reader's
};

}  // namespace tarvex
