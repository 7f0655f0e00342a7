#pragma once
// Which device each port number COM1..COM29 stands for on this system.

#include <array>
#include <string>

namespace tarvex {

constexpr int PORT_FIRST = 1;
constexpr int PORT_LAST = 29;

class CPortMap {
public:
    // The fixed table: COM1-4 /dev/ttyS0-3, COM5-20 /dev/ttyUSB0-15,
    // COM21-29 /dev/ttyACM0-8 (on Windows, \\.\COMn).
    static CPortMap Defaults();
    static CPortMap Empty() { return CPortMap(); }

    // The fixed table with section "Serial_Ports" of "Setting.ini" applied:
    // "COMn=<device>" maps n to that device, "COMn=" leaves n without one,
    // "Defaults=off" starts from an empty table; "COMn=socket://host:port"
    // and "COMn=rfc2217://host:port" name network ports. Windows reads only
    // the network ports.
    // The user's own file, when given, is applied after the program's.
    static CPortMap FromSettings(const std::wstring& settingFile, const std::wstring& userFile = {});

    // The device of port n, empty when n has none.
    const std::string& Device(int n) const;
    void Set(int n, std::string device);

private:
    void Apply(const std::wstring& settingFile);
    std::array<std::string, PORT_LAST + 1> m_devices;
};

}  // namespace tarvex
