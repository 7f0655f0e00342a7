// The driver's platform functions on Windows: a COM port opened for
// overlapped I/O, waited on with WaitCommEvent beside the stop and write
// events.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "serial/SerialPlatform.h"
#include "text/TextCodec.h"

namespace tarvex::platform {
namespace {

// A line wait that ends with nothing to read and no sign that the device is
// gone is simply taken up again. A port whose waits keep ending for nothing
// (Wine on a pseudo-terminal ends every wait at once, each after starting a
// thread of its own) is watched through its queue count instead, every
// QUIET_POLL_MS: a wake every few milliseconds rather than a spinning core.
// A byte takes about 1 ms at 9600 baud.
constexpr int QUIET_ENDS_BEFORE_POLLING = 3;
constexpr DWORD QUIET_POLL_MS = 10;
// How long closing a port waits for its pending line wait to end. Windows
// promises a prompt end once the event mask is cleared and the I/O
// cancelled; the bound is for systems that keep no promise.
constexpr DWORD CLOSE_WAIT_MS = 1000;
// Reads and writes are bounded by the port's own time-outs (1000 ms); this
// margin covers a driver that does not apply them.
constexpr DWORD IO_TIMEOUT_MS = 1000;
constexpr DWORD IO_MARGIN_MS = 1000;

// One open port: its handle and the line-event wait that stays pending from
// one WaitForAny to the next (a stop may end the wait before the line does).
struct Win32Port {
    HANDLE handle = INVALID_HANDLE_VALUE;
    OVERLAPPED lineWait{};
    DWORD lineEvents = 0;
    bool waitPending = false;
    int quietEnds = 0;    // line waits in a row that ended with nothing to read
    bool polled = false;  // the line is watched through its queue count
};

Win32Port* PortOf(PortHandle port) { return static_cast<Win32Port*>(port); }

// One overlapped read or write with a buffer of its own: if the system does
// not hand the request back within its bound, the record is left to it
// rather than freed under it.
struct OverlappedIo {
    OVERLAPPED io{};
    uint8_t bytes[1024];
};

// Waits for an overlapped request within the time given; past it the request
// is cancelled (CancelIoEx works from any thread, unlike CancelIo) and waited
// for once more. False when the system still holds the record.
bool AwaitOverlapped(HANDLE handle, OVERLAPPED& io, DWORD timeoutMs) {
    if (::WaitForSingleObject(io.hEvent, timeoutMs) == WAIT_OBJECT_0) return true;
    ::CancelIoEx(handle, &io);
    return ::WaitForSingleObject(io.hEvent, CLOSE_WAIT_MS) == WAIT_OBJECT_0;
}

// Runs one overlapped read or write to its end, within the time given.
bool RunOverlapped(HANDLE handle, bool write, uint8_t* bytes, DWORD size, DWORD timeoutMs, DWORD& done,
                   int& error) {
    done = 0;
    auto* request = new OverlappedIo;
    size = std::min<DWORD>(size, sizeof request->bytes);
    request->io.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!request->io.hEvent) {
        error = static_cast<int>(::GetLastError());
        delete request;
        return false;
    }
    if (write) std::memcpy(request->bytes, bytes, size);
    BOOL ok = write ? ::WriteFile(handle, request->bytes, size, nullptr, &request->io)
                    : ::ReadFile(handle, request->bytes, size, nullptr, &request->io);
    if (!ok && ::GetLastError() == ERROR_IO_PENDING) {
        if (!AwaitOverlapped(handle, request->io, timeoutMs)) {
            // Left to the system: freeing it could let a late completion
            // write into reused memory.
            error = WAIT_TIMEOUT;
            return false;
        }
        ok = TRUE;
    }
    if (ok) ok = ::GetOverlappedResult(handle, &request->io, &done, FALSE);
    if (!ok) error = static_cast<int>(::GetLastError());
    if (ok && !write) std::memcpy(bytes, request->bytes, done);
    ::CloseHandle(request->io.hEvent);
    delete request;
    return ok != FALSE;
}

// What the port itself says once its line wait has ended: the wait's own
// result is no proof either way (Wine ends every wait on a pseudo-terminal
// with ERROR_OPERATION_ABORTED, which a cancelled request also gives).
enum class LineState { Data, Quiet, Gone, Failed };

int QueueCountOf(HANDLE handle, int& error) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(handle, &errors, &status)) {
        error = static_cast<int>(::GetLastError());
        return -1;
    }
    return static_cast<int>(status.cbInQue);
}

LineState AskPort(HANDLE handle, bool readNothing, int& error) {
    const int waiting = QueueCountOf(handle, error);
    if (waiting > 0) return LineState::Data;
    if (waiting < 0) return IsRemovalError(error) ? LineState::Gone : LineState::Failed;
    if (!readNothing) return LineState::Quiet;
    // A removed device fails even a read of nothing; a quiet line gives nothing.
    uint8_t none = 0;
    DWORD got = 0;
    int readError = 0;
    if (!RunOverlapped(handle, false, &none, 0, IO_MARGIN_MS, got, readError) && IsRemovalError(readError)) {
        error = readError;
        return LineState::Gone;
    }
    return LineState::Quiet;
}

}  // namespace

const PortHandle NO_PORT = nullptr;

PortHandle OpenExclusive(const std::string& device, int& error) {
    error = ERROR_FILE_NOT_FOUND;
    if (device.empty()) return NO_PORT;
    const std::wstring name = WideFromUtf8(device);
    HANDLE handle = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = static_cast<int>(::GetLastError());
        return NO_PORT;
    }
    auto port = std::make_unique<Win32Port>();
    port->handle = handle;
    port->lineWait.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!port->lineWait.hEvent) {
        error = static_cast<int>(::GetLastError());
        ::CloseHandle(handle);
        return NO_PORT;
    }
    error = 0;
    return port.release();
}

void Close(PortHandle port) {
    Win32Port* p = PortOf(port);
    if (!p) return;
    bool released = true;
    if (p->waitPending) {
        // The pending line wait refers to this record, and may belong to
        // another thread. Windows promises that SetCommMask on a handle with
        // an overlapped wait pending makes WaitCommEvent return; CancelIoEx
        // (in AwaitOverlapped) is the fallback for a driver that does not.
        ::SetCommMask(p->handle, 0);
        released = AwaitOverlapped(p->handle, p->lineWait, QUIET_POLL_MS * 10);
    }
    // Closing the handle also ends whatever request is still outstanding.
    ::CloseHandle(p->handle);
    if (!released) return;  // the record stays the system's: a few bytes, never reused
    ::CloseHandle(p->lineWait.hEvent);
    delete p;
}

const char* const WAIT_STEP = "WaitCommEvent()";
const char* const READ_STEP = "ReadFile()";
const char* const WRITE_STEP = "WriteFile()";

bool Configure(PortHandle port, const LineSettings& settings, const char*& failedStep, int& error) {
    HANDLE h = PortOf(port)->handle;
    COMMTIMEOUTS timeouts{1000, 1000, 1000, 1000, 1000};
    if (!::SetCommTimeouts(h, &timeouts)) {
        failedStep = "SetCommTimeouts()";
    } else if (!::SetCommMask(h, EV_RXCHAR | EV_RXFLAG)) {
        failedStep = "SetCommMask()";
    } else {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!::GetCommState(h, &dcb)) {
            failedStep = "GetCommState()";
        } else {
            dcb.fRtsControl = RTS_CONTROL_ENABLE;
            // Names no flow control, so both kinds end up switched off.
            std::wstring text = L"baud=" + std::to_wstring(settings.baud) + L" parity=" +
                                static_cast<wchar_t>(settings.parity) + L" data=" +
                                std::to_wstring(settings.dataBits) + L" stop=" + std::to_wstring(settings.stopBits);
            if (!::BuildCommDCBW(text.data(), &dcb))
                failedStep = "BuildCommDCB()";
            else if (!::SetCommState(h, &dcb))
                failedStep = "SetCommState()";
            else
                return true;
        }
    }
    error = static_cast<int>(::GetLastError());
    return false;
}

void Purge(PortHandle port) {
    ::PurgeComm(PortOf(port)->handle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
}

void PurgeInput(PortHandle port) { ::PurgeComm(PortOf(port)->handle, PURGE_RXABORT | PURGE_RXCLEAR); }

int QueueCount(PortHandle port, int& error) { return QueueCountOf(PortOf(port)->handle, error); }

long Read(PortHandle port, uint8_t* buffer, size_t size, int& error) {
    // Only what is waiting, so the read never stands on its time-out.
    const int waiting = QueueCount(port, error);
    if (waiting < 0) return -1;
    const DWORD wanted = static_cast<DWORD>(std::min<size_t>(size, static_cast<size_t>(std::max(waiting, 1))));
    DWORD got = 0;
    if (!RunOverlapped(PortOf(port)->handle, false, buffer, wanted, IO_TIMEOUT_MS + IO_MARGIN_MS, got, error))
        return -1;
    return static_cast<long>(got);
}

bool Write(PortHandle port, const uint8_t* bytes, size_t size, int timeoutMs, int& error) {
    const DWORD limit = static_cast<DWORD>(timeoutMs) + IO_MARGIN_MS;
    size_t done = 0;
    while (done < size) {
        DWORD put = 0;
        if (!RunOverlapped(PortOf(port)->handle, true, const_cast<uint8_t*>(bytes + done),
                           static_cast<DWORD>(size - done), limit, put, error))
            return false;
        if (put == 0) {
            error = ERROR_WRITE_FAULT;
            return false;
        }
        done += put;
    }
    return true;
}

CWaitEvent::CWaitEvent() : m_handle(reinterpret_cast<intptr_t>(::CreateEventW(nullptr, TRUE, FALSE, nullptr))) {}

CWaitEvent::~CWaitEvent() {
    if (m_handle) ::CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

void CWaitEvent::Set() { ::SetEvent(reinterpret_cast<HANDLE>(m_handle)); }

void CWaitEvent::Reset() { ::ResetEvent(reinterpret_cast<HANDLE>(m_handle)); }

WaitResult WaitForAny(PortHandle port, const CWaitEvent& stop, const CWaitEvent& write, int timeoutMs, int& error) {
    Win32Port* p = PortOf(port);
    const HANDLE stopEvent = reinterpret_cast<HANDLE>(stop.Handle());
    const HANDLE writeEvent = reinterpret_cast<HANDLE>(write.Handle());
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(std::max(timeoutMs, 0));
    // What is left of the wait, INFINITE without a limit.
    auto left = [&]() -> DWORD {
        if (timeoutMs < 0) return INFINITE;
        const ULONGLONG now = ::GetTickCount64();
        return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    };
    for (;;) {
        if (p->polled) {
            const HANDLE requests[2] = {stopEvent, writeEvent};
            const DWORD r = ::WaitForMultipleObjects(2, requests, FALSE, std::min<DWORD>(QUIET_POLL_MS, left()));
            if (r == WAIT_OBJECT_0) return WaitResult::Stop;
            if (r == WAIT_OBJECT_0 + 1) return WaitResult::Write;
            if (r != WAIT_TIMEOUT) {
                error = static_cast<int>(::GetLastError());
                return WaitResult::Failed;
            }
        } else {
            if (!p->waitPending) {
                ::ResetEvent(p->lineWait.hEvent);
                p->lineEvents = 0;
                // Windows: TRUE when an event is already there, ERROR_IO_PENDING
                // when the wait goes on in the background; any other failure
                // (a removed device, ERROR_INVALID_PARAMETER on a port that
                // cannot be waited on) is judged by asking the port below.
                if (!::WaitCommEvent(p->handle, &p->lineEvents, &p->lineWait) &&
                    ::GetLastError() == ERROR_IO_PENDING)
                    p->waitPending = true;
            }
            if (p->waitPending) {
                // Stop before line before write: with several signalled,
                // Windows returns the lowest index.
                // The line's wait stays pending past a time-out, for the next call.
                const HANDLE handles[3] = {stopEvent, p->lineWait.hEvent, writeEvent};
                const DWORD r = ::WaitForMultipleObjects(3, handles, FALSE, left());
                if (r == WAIT_TIMEOUT) return WaitResult::Timeout;
                if (r == WAIT_OBJECT_0) return WaitResult::Stop;
                if (r == WAIT_OBJECT_0 + 2) return WaitResult::Write;
                if (r != WAIT_OBJECT_0 + 1) {
                    error = static_cast<int>(::GetLastError());
                    return WaitResult::Failed;
                }
                DWORD ignored = 0;
                ::GetOverlappedResult(p->handle, &p->lineWait, &ignored, FALSE);
                p->waitPending = false;
            }
        }
        switch (AskPort(p->handle, !p->polled, error)) {
            case LineState::Data:
                p->quietEnds = 0;
                return WaitResult::Line;
            case LineState::Gone:
                return WaitResult::Removed;
            case LineState::Failed:
                return WaitResult::Failed;
            case LineState::Quiet:
                // Once is an event already drained; again and again is a
                // system that cannot wait on this line.
                if (++p->quietEnds >= QUIET_ENDS_BEFORE_POLLING) p->polled = true;
                if (left() == 0) return WaitResult::Timeout;
                break;
        }
    }
}

std::wstring ErrorText(int error) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(error), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&text), 0,
        nullptr);
    std::wstring result = length && text ? std::wstring(text, length) : L"Error " + std::to_wstring(error);
    if (text) ::LocalFree(text);
    return result;
}

// What a pulled USB adapter answers to ClearCommError or a read
// (ERROR_NOT_READY is Wine's word for a line whose far side hung up, EIO on
// POSIX). Not ERROR_OPERATION_ABORTED: a cancelled or purged request ends
// with it too, and Wine ends every line wait on a pseudo-terminal with it.
bool IsRemovalError(int error) {
    switch (static_cast<DWORD>(error)) {
        case ERROR_NOT_READY:
        case ERROR_ACCESS_DENIED:
        case ERROR_BAD_COMMAND:
        case ERROR_GEN_FAILURE:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEVICE_REMOVED:
        case ERROR_FILE_NOT_FOUND:
        // A network port's connection that ended or failed (Winsock's codes).
        case 10050: case 10051: case 10053: case 10054: case 10057: case 10058: case 10060: case 10065:
            return true;
        default:
            return false;
    }
}

// "Access denied" on a COM port means another program holds it, not a
// missing right: Windows has no group to join for it.
bool IsPermissionError(int) { return false; }

std::string OwningGroup(const std::string&) { return {}; }

}  // namespace tarvex::platform
