#pragma once
// The window side of the serial driver: where its notifications go.

#include <cstdint>
#include <functional>
#include <string>

namespace tarvex {

class ISerialOwner {
public:
    virtual ~ISerialOwner() = default;
    // Runs work on the owner's (window) thread later; returns at once.
    virtual void PostToOwner(std::function<void()> work) = 0;
    virtual bool OnOwnerThread() const = 0;

    // On the owner's thread; the bytes are valid only during the call.
    virtual void OnSerialData(const uint8_t* bytes, int count) = 0;
    // On the owner's thread; the report may stay on screen after it returns.
    virtual void ShowPortError(const std::wstring& text, const std::wstring& caption) = 0;
    // On the owner's thread: the device of the current port went away.
    virtual void OnPortRemoved(unsigned portNumber) = 0;
    // On the owner's thread: a network port's server could not be reached,
    // so no answer will come on this link.
    virtual void OnPortUnreached(unsigned) {}
    // On the owner's thread: the far side keeps these line settings other
    // than asked ("19200 baud"); the link goes on. Each told once.
    virtual void OnLineSettingsKept(unsigned, const std::wstring&) {}

    // On the reader thread, for owners that count them; the window ignores both.
    virtual void OnSerialEventChar(unsigned) {}
    virtual void OnSerialWritten(unsigned) {}
};

}  // namespace tarvex
