#include "serial/PortMap.h"

#include "text/ProfileFile.h"
#include "text/TextCodec.h"
#include "serial/NetworkAddress.h"

namespace tarvex {

CPortMap CPortMap::Defaults() {
    CPortMap map;
    for (int n = PORT_FIRST; n <= PORT_LAST; ++n) {
#ifdef _WIN32
        map.Set(n, "\\\\.\\COM" + std::to_string(n));
#else
        if (n <= 4) map.Set(n, "/dev/ttyS" + std::to_string(n - 1));
        else if (n <= 20) map.Set(n, "/dev/ttyUSB" + std::to_string(n - 5));
        else map.Set(n, "/dev/ttyACM" + std::to_string(n - 21));
#endif
    }
    return map;
}

CPortMap CPortMap::FromSettings(const std::wstring& settingFile, const std::wstring& userFile) {
    CPortMap map = Defaults();
    map.Apply(settingFile);
    if (!userFile.empty()) map.Apply(userFile);
    return map;
}

void CPortMap::Apply(const std::wstring& settingFile) {
    constexpr std::wstring_view section = L"Serial_Ports";
#ifdef _WIN32
    // Local COM numbers stay the system's: only network ports are read.
    for (int n = PORT_FIRST; n <= PORT_LAST; ++n) {
        const std::string device = Utf8FromWide(ReadProfileText(settingFile, section, L"COM" + std::to_wstring(n)));
        if (ParseNetworkAddress(device)) Set(n, device);
    }
#else
    const std::wstring defaults = ReadProfileText(settingFile, section, L"Defaults");
    if (defaults == L"off" || defaults == L"OFF" || defaults == L"Off") *this = Empty();
    // A key present with an empty value leaves its number without a device.
    for (int n = PORT_FIRST; n <= PORT_LAST; ++n) {
        const std::wstring key = L"COM" + std::to_wstring(n);
        if (!ProfileHasKey(settingFile, section, key)) continue;
        Set(n, Utf8FromWide(ReadProfileText(settingFile, section, key)));
    }
#endif
}

const std::string& CPortMap::Device(int n) const {
    static const std::string none;
    return (n < PORT_FIRST || n > PORT_LAST) ? none : m_devices[static_cast<size_t>(n)];
}

void CPortMap::Set(int n, std::string device) {
    if (n >= PORT_FIRST && n <= PORT_LAST) m_devices[static_cast<size_t>(n)] = std::move(device);
}

}  // namespace tarvex
