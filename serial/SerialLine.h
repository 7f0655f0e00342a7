#pragma once
// One open line to a scale, whatever carries it: a serial device or a
// network connection. The reader thread is its only user but for the queue
// count the window asks for, which the port's lock guards.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "serial/LineSettings.h"
#include "serial/SerialPlatform.h"

namespace tarvex {

// How a report names the system calls that wait, read and write.
struct LineSteps {
    const char* wait;
    const char* read;
    const char* write;
};

// How long a line must stay silent before a frame still open is judged.
// A byte takes about 1 ms at 9600 baud and a frame about 6 ms; USB adapters
// hand bytes over every 16 ms by default, so pieces of one frame can lie
// that far apart. 50 ms (about 48 character times) waits past three such
// hand-overs. A network hop adds the device server's own reads of the port
// and TCP's delayed segments: pieces of one frame were seen more than 50 ms
// apart there on a busy machine. Both still answer a damaged frame long
// before the scale's own one-second time-out.
constexpr int DEVICE_LINE_QUIET_MS = 50;
constexpr int NETWORK_LINE_QUIET_MS = 300;

class ISerialLine {
public:
    virtual ~ISerialLine() = default;
    virtual const LineSteps& Steps() const = 0;
    virtual int QuietMs() const { return DEVICE_LINE_QUIET_MS; }

    // On the reader thread before anything else: a line that must first be
    // reached (a network port) is reached here, within its own limit or
    // until stop is set. False: not reached, which is not reported (as a
    // device that cannot be opened).
    virtual bool Reach(const platform::CWaitEvent& stop) = 0;
    // The settings asked, no flow control, RTS on. A line that cannot take
    // 7 data bits with parity goes on at 8 bits, strips bit 7 from what it
    // reads and says so through TakeDifferences.
    virtual bool Configure(const LineSettings& settings, const char*& failedStep, int& error) = 0;
    virtual void Purge() = 0;
    virtual void PurgeInput() = 0;
    virtual int QueueCount(int& error) = 0;
    // May give no bytes at all (what came was for the line itself).
    virtual long Read(uint8_t* buffer, size_t size, int& error) = 0;
    virtual bool Write(const uint8_t* bytes, size_t size, int timeoutMs, int& error) = 0;
    // timeoutMs < 0: no limit; past it, WaitResult::Timeout.
    virtual platform::WaitResult WaitForAny(const platform::CWaitEvent& stop, const platform::CWaitEvent& write,
                                            int timeoutMs, int& error) = 0;
    // Line settings the far side keeps other than asked, in words; each once.
    virtual std::wstring TakeDifferences() { return {}; }
};

// The line for a port map entry: a network line for "socket://" and
// "rfc2217://" (not yet reached), a device opened exclusively otherwise.
// Null with the error when the device cannot be opened.
std::unique_ptr<ISerialLine> OpenLine(const std::string& device, int& error);

}  // namespace tarvex
