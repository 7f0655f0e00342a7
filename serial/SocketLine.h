#pragma once
// A scale behind a serial device server: a TCP connection carrying the
// bytes as they are, or Telnet with the COM-PORT-OPTION.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "serial/ComPortTelnet.h"
#include "serial/NetworkAddress.h"
#include "serial/SerialLine.h"

namespace tarvex {

// The time limit of reaching the server, and of the probe.
constexpr int NETWORK_CONNECT_LIMIT_MS = 2000;
constexpr int NETWORK_PROBE_LIMIT_MS = 500;
// A server that stops answering is taken as gone within this time.
constexpr int NETWORK_SILENCE_LIMIT_MS = 8000;
// As a link is reached, what the server held from before is thrown away
// until the line is quiet this long, for at most the limit.
constexpr int NETWORK_QUIET_MS = 60;
constexpr int NETWORK_STALE_LIMIT_MS = 1000;

class CSocketLine final : public ISerialLine {
public:
    explicit CSocketLine(NetworkAddress address);
    // Sends what is queued, tells the server the link ends, and closes
    // within a bound, so a server that takes one client is free at once.
    ~CSocketLine() override;
    CSocketLine(const CSocketLine&) = delete;
    CSocketLine& operator=(const CSocketLine&) = delete;

    const LineSteps& Steps() const override;
    int QuietMs() const override { return NETWORK_LINE_QUIET_MS; }
    bool Reach(const platform::CWaitEvent& stop) override;
    // Asked of an RFC 2217 server as the link is reached; a plain TCP port
    // carries the bytes as its server is set.
    bool Configure(const LineSettings& settings, const char*&, int&) override;
    void Purge() override;
    void PurgeInput() override;
    int QueueCount(int& error) override;
    long Read(uint8_t* buffer, size_t size, int& error) override;
    bool Write(const uint8_t* bytes, size_t size, int timeoutMs, int& error) override;
    platform::WaitResult WaitForAny(const platform::CWaitEvent& stop, const platform::CWaitEvent& write,
                                    int timeoutMs, int& error) override;
    std::wstring TakeDifferences() override;

private:
    enum class Wake { Stop, Readable, Writable, Write, Closed, Timeout, Failed };
    // Either event may be null; a negative time waits without limit.
    Wake WaitSocket(const platform::CWaitEvent* stop, const platform::CWaitEvent* write, bool forWrite,
                    int timeoutMs, int& error);
    bool Connect(const platform::CWaitEvent& stop, int timeoutMs);
    void SetLinkOptions();
    enum class Filled { Got, Nothing, Ended, Failed };
    // Reads what the socket holds, answering Telnet; its data bytes go to
    // m_pending. The caller holds m_lock.
    Filled Fill(int& error);
    // The server's Telnet can no longer be told from its data (CComPortTelnet::Endless).
    bool Endless() const;
    bool TakeIn(int& error);  // Fill, false when the connection failed or ended
    bool SendRaw(const uint8_t* bytes, size_t size, int timeoutMs, int& error);
    // Throws away what has come in.
    void DiscardReceived();
    void CloseWithinBound();

    NetworkAddress m_address;
    std::mutex m_lock;  // the window asks the queue count while the reader reads
    intptr_t m_socket;  // set by the reader before m_reached, read by others only after it
    std::atomic<bool> m_reached{false};
    intptr_t m_netEvent = 0;  // Windows: the socket's network events
    bool m_closed = false;    // Windows: the end of the connection was seen
    std::unique_ptr<CComPortTelnet> m_telnet;  // for rfc2217:// only
    bool m_sevenBits = false;                  // bit 7 of every byte is parity, never data
    std::vector<uint8_t> m_pending;            // data bytes read, not yet taken
    std::vector<uint8_t> m_wire;               // bytes on their way out
};

}  // namespace tarvex
