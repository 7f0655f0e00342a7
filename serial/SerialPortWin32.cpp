// The driver's platform functions on Windows: a COM port opened for
// overlapped I/O, waited on with WaitCommEvent beside the stop and write
// events.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <memory>

#include "SerialPlatform.h"
#include "TextCodec.h"

namespace tarvex::platform {
namespace {

// One open port: its handle and the line-event wait that stays pending from
// one WaitForAny to the next (a stop may end the wait before the line does).
struct Win32Port {
    HANDLE handle = INVALID_HANDLE_VALUE;
    OVERLAPPED lineWait{};
    DWORD lineEvents = 0;
    bool waitPending = false;
};

Win32Port* PortOf(PortHandle port) { return static_cast<Win32Port*>(port); }

// Runs one overlapped read or write to its end; the port's time-outs bound it.
bool RunOverlapped(HANDLE handle, bool write, void* bytes, DWORD size, DWORD& done, int& error) {
    OVERLAPPED io{};
    io.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!io.hEvent) {
        error = static_cast<int>(::GetLastError());
        return false;
    }
    BOOL ok = write ? ::WriteFile(handle, bytes, size, nullptr, &io) : ::ReadFile(handle, bytes, size, nullptr, &io);
    if (!ok && ::GetLastError() == ERROR_IO_PENDING) ok = TRUE;
    if (ok) ok = ::GetOverlappedResult(handle, &io, &done, TRUE);
    if (!ok) error = static_cast<int>(::GetLastError());
    ::CloseHandle(io.hEvent);
    return ok != FALSE;
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
    if (p->waitPending) {
        // The pending line wait refers to this record: let it end first.
        ::CancelIo(p->handle);
        DWORD ignored = 0;
        ::GetOverlappedResult(p->handle, &p->lineWait, &ignored, TRUE);
    }
    ::CloseHandle(p->handle);
    ::CloseHandle(p->lineWait.hEvent);
    delete p;
}

bool Configure(PortHandle port, const char*& failedStep, int& error) {
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
            wchar_t settings[] = L"baud=9600 parity=N data=8 stop=1";
            if (!::BuildCommDCBW(settings, &dcb))
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

int QueueCount(PortHandle port, int& error) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(PortOf(port)->handle, &errors, &status)) {
        error = static_cast<int>(::GetLastError());
        return -1;
    }
    return static_cast<int>(status.cbInQue);
}

long Read(PortHandle port, uint8_t* buffer, size_t size, int& error) {
    // Only what is waiting, so the read never stands on its time-out.
    const int waiting = QueueCount(port, error);
    if (waiting < 0) return -1;
    const DWORD wanted = static_cast<DWORD>(std::min<size_t>(size, static_cast<size_t>(std::max(waiting, 1))));
    DWORD got = 0;
    if (!RunOverlapped(PortOf(port)->handle, false, buffer, wanted, got, error)) return -1;
    return static_cast<long>(got);
}

bool Write(PortHandle port, const uint8_t* bytes, size_t size, int, int& error) {
    DWORD done = 0;
    if (!RunOverlapped(PortOf(port)->handle, true, const_cast<uint8_t*>(bytes), static_cast<DWORD>(size), done,
                       error))
        return false;
    if (done != size) {
        error = ERROR_WRITE_FAULT;
        return false;
    }
    return true;
}

CWaitEvent::CWaitEvent() : m_handle(reinterpret_cast<intptr_t>(::CreateEventW(nullptr, TRUE, FALSE, nullptr))) {}

CWaitEvent::~CWaitEvent() {
    if (m_handle) ::CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

void CWaitEvent::Set() { ::SetEvent(reinterpret_cast<HANDLE>(m_handle)); }

void CWaitEvent::Reset() { ::ResetEvent(reinterpret_cast<HANDLE>(m_handle)); }

WaitResult WaitForAny(PortHandle port, const CWaitEvent& stop, const CWaitEvent& write, int& error) {
    Win32Port* p = PortOf(port);
    const HANDLE stopEvent = reinterpret_cast<HANDLE>(stop.Handle());
    const HANDLE writeEvent = reinterpret_cast<HANDLE>(write.Handle());
    for (;;) {
        if (!p->waitPending) {
            ::ResetEvent(p->lineWait.hEvent);
            p->lineEvents = 0;
            if (::WaitCommEvent(p->handle, &p->lineEvents, &p->lineWait)) {
                // An event was there already: data waiting means a line event.
                int queueError = 0;
                const int waiting = QueueCount(port, queueError);
                if (waiting > 0) return WaitResult::Line;
                if (waiting < 0 && IsRemovalError(queueError)) {
                    error = queueError;
                    return WaitResult::Removed;
                }
                // Nothing to read. Some systems (Wine among them) answer every
                // wait at once: look at the stop and write events meanwhile,
                // and give the line a moment rather than spin.
                const HANDLE others[2] = {stopEvent, writeEvent};
                const DWORD r = ::WaitForMultipleObjects(2, others, FALSE, 10);
                if (r == WAIT_OBJECT_0) return WaitResult::Stop;
                if (r == WAIT_OBJECT_0 + 1) return WaitResult::Write;
                continue;
            }
            const DWORD e = ::GetLastError();
            if (e == ERROR_IO_PENDING) {
                p->waitPending = true;
            } else if (IsRemovalError(static_cast<int>(e))) {
                error = static_cast<int>(e);
                return WaitResult::Removed;
            } else if (e != ERROR_INVALID_PARAMETER) {
                error = static_cast<int>(e);
                return WaitResult::Failed;
            }
        }
        if (!p->waitPending) {
            // The line cannot be waited on; stop and write requests still can.
            const HANDLE others[2] = {stopEvent, writeEvent};
            const DWORD r = ::WaitForMultipleObjects(2, others, FALSE, INFINITE);
            if (r == WAIT_OBJECT_0) return WaitResult::Stop;
            if (r == WAIT_OBJECT_0 + 1) return WaitResult::Write;
            error = static_cast<int>(::GetLastError());
            return WaitResult::Failed;
        }
        // Stop before line before write, as the order of the handles says.
        const HANDLE handles[3] = {stopEvent, p->lineWait.hEvent, writeEvent};
        const DWORD r = ::WaitForMultipleObjects(3, handles, FALSE, INFINITE);
        if (r == WAIT_OBJECT_0) return WaitResult::Stop;
        if (r == WAIT_OBJECT_0 + 2) return WaitResult::Write;
        if (r != WAIT_OBJECT_0 + 1) {
            error = static_cast<int>(::GetLastError());
            return WaitResult::Failed;
        }
        DWORD ignored = 0;
        p->waitPending = false;
        if (!::GetOverlappedResult(p->handle, &p->lineWait, &ignored, FALSE)) {
            const DWORD e = ::GetLastError();
            if (IsRemovalError(static_cast<int>(e))) {
                error = static_cast<int>(e);
                return WaitResult::Removed;
            }
        }
        return WaitResult::Line;
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

// A pulled USB adapter answers with any of these, from the wait, the queue
// count or any later call.
bool IsRemovalError(int error) {
    switch (static_cast<DWORD>(error)) {
        case ERROR_ACCESS_DENIED:
        case ERROR_BAD_COMMAND:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_OPERATION_ABORTED:
        case ERROR_FILE_NOT_FOUND:
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
