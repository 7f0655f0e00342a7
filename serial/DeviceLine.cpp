// A serial device as a line: the platform's functions on its handle.

#include "serial/NetworkAddress.h"
#include "serial/SerialLine.h"
#include "serial/SocketLine.h"

namespace tarvex {
namespace {

class CDeviceLine final : public ISerialLine {
public:
    explicit CDeviceLine(platform::PortHandle handle) : m_handle(handle) {}
    ~CDeviceLine() override { platform::Close(m_handle); }
    CDeviceLine(const CDeviceLine&) = delete;
    CDeviceLine& operator=(const CDeviceLine&) = delete;

    const LineSteps& Steps() const override {
        static const LineSteps steps{platform::WAIT_STEP, platform::READ_STEP, platform::WRITE_STEP};
        return steps;
    }
    bool Reach(const platform::CWaitEvent&) override { return true; }
    bool Configure(const LineSettings& settings, const char*& failedStep, int& error) override {
        // Seven data bits leave bit 7 to the parity wherever a line hands it
        // on (a pseudo-terminal does): it is never the scale's data.
        m_stripBit7 = settings.dataBits == 7;
        if (platform::Configure(m_handle, settings, failedStep, error)) return true;
        // A pseudo-terminal (and Wine's ports on them) refuses 7 bits with
        // parity; the scale's bytes still come, their parity in bit 7.
        if (settings == EightBitsOf(settings)) return false;
        const char* step = nullptr;
        int ignored = 0;
        if (!platform::Configure(m_handle, EightBitsOf(settings), step, ignored)) return false;
        m_untold = LineSettingsWords(EightBitsOf(settings)) + L", bit 7 taken off every byte (it refused " +
                   LineSettingsWords(settings) + L")";
        return true;
    }
    std::wstring TakeDifferences() override {
        std::wstring words;
        words.swap(m_untold);
        return words;
    }
    void Purge() override { platform::Purge(m_handle); }
    void PurgeInput() override { platform::PurgeInput(m_handle); }
    int QueueCount(int& error) override { return platform::QueueCount(m_handle, error); }
    long Read(uint8_t* buffer, size_t size, int& error) override {
        const long got = platform::Read(m_handle, buffer, size, error);
        if (m_stripBit7)
            for (long i = 0; i < got; ++i) buffer[i] &= 0x7F;
        return got;
    }
    bool Write(const uint8_t* bytes, size_t size, int timeoutMs, int& error) override {
        return platform::Write(m_handle, bytes, size, timeoutMs, error);
    }
    platform::WaitResult WaitForAny(const platform::CWaitEvent& stop, const platform::CWaitEvent& write,
                                    int timeoutMs, int& error) override {
        return platform::WaitForAny(m_handle, stop, write, timeoutMs, error);
    }

private:
    platform::PortHandle m_handle;
    bool m_stripBit7 = false;  // 7 data bits were asked
    std::wstring m_untold;     // the settings kept, until told
};

}  // namespace

std::unique_ptr<ISerialLine> OpenLine(const std::string& device, int& error) {
    if (const auto address = ParseNetworkAddress(device)) {
        error = 0;
        return std::make_unique<CSocketLine>(*address);
    }
    const platform::PortHandle handle = platform::OpenExclusive(device, error);
    if (handle == platform::NO_PORT) return nullptr;
    return std::make_unique<CDeviceLine>(handle);
}

}  // namespace tarvex
