#pragma once
// What the driver needs from the system, one file per platform with the
// same functions. Errors come back as the platform's error code.

#include <cstddef>
#include <cstdint>
#include <string>

#include "serial/LineSettings.h"

namespace tarvex::platform {

#ifdef _WIN32
using PortHandle = void*;
#else
using PortHandle = int;
#endif
extern const PortHandle NO_PORT;

// Opens for reading and writing, shared with nobody; NO_PORT with the error
// when that fails.
PortHandle OpenExclusive(const std::string& device, int& error);
// Gives up the exclusive claim and closes.
void Close(PortHandle port);

// The settings asked, no flow control, RTS raised. On failure names the step
// that failed and leaves its error code; a line that took other settings
// than asked (read back) fails too.
bool Configure(PortHandle port, const LineSettings& settings, const char*& failedStep, int& error);
// How a report names the system call that failed, as this system calls it.
extern const char* const WAIT_STEP;
extern const char* const READ_STEP;
extern const char* const WRITE_STEP;

// Both directions: pending bytes in and out are thrown away.
void Purge(PortHandle port);
// Received bytes not yet read are thrown away; what is being sent stays.
void PurgeInput(PortHandle port);
// Bytes waiting in the input queue; -1 with the error when the query fails.
int QueueCount(PortHandle port, int& error);
// Reads up to size bytes without waiting; -1 with the error on failure.
long Read(PortHandle port, uint8_t* buffer, size_t size, int& error);
// Writes everything within the time limit; false with the error otherwise.
bool Write(PortHandle port, const uint8_t* bytes, size_t size, int timeoutMs, int& error);

// A manual-reset event the reader can wait on together with the port.
class CWaitEvent {
public:
    CWaitEvent();
    ~CWaitEvent();
    CWaitEvent(const CWaitEvent&) = delete;
    CWaitEvent& operator=(const CWaitEvent&) = delete;
    void Set();
    void Reset();
    intptr_t Handle() const { return m_handle; }

private:
    intptr_t m_handle;
};

enum class WaitResult { Stop, Line, Write, Removed, Failed, Timeout };

// Waits at most timeoutMs (without limit when negative); when several are
// ready, stop before line before write. Removed: the device is gone or its
// far side closed.
WaitResult WaitForAny(PortHandle port, const CWaitEvent& stop, const CWaitEvent& write, int timeoutMs, int& error);

std::wstring ErrorText(int error);
// The error code meaning the device went away.
bool IsRemovalError(int error);
// The device exists but this user may not open it.
bool IsPermissionError(int error);
// The group a user must belong to for opening the device; empty if unknown.
std::string OwningGroup(const std::string& device);

}  // namespace tarvex::platform
