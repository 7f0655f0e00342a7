#pragma once
// The scale's end of a pseudo-terminal pair: the program opens the device
// path as its serial port, the scale side reads and writes the master.

#include <cstdint>
#include <string>
#include <vector>

namespace tarvex::sim {

class CPseudoTerminal {
public:
    // Throws std::runtime_error when no pty can be had. Holding the device
    // open as well keeps what was written for a program that opens it later
    // (or again, after a crash), as a real serial line's buffer would.
    explicit CPseudoTerminal(bool holdDevice = false);
    ~CPseudoTerminal();
    CPseudoTerminal(const CPseudoTerminal&) = delete;
    CPseudoTerminal& operator=(const CPseudoTerminal&) = delete;

    const std::string& DevicePath() const { return m_devicePath; }
    int Fd() const { return m_master; }

    void Send(const std::vector<uint8_t>& bytes);
    // What arrives within the time, at least `atLeast` bytes or fewer on time-out.
    std::vector<uint8_t> Receive(int timeoutMs, size_t atLeast = 1);
    // Closes the master: to the program it looks like an unplugged device.
    void Unplug();

private:
    int m_master = -1;
    int m_device = -1;
    std::string m_devicePath;
};

}  // namespace tarvex::sim
