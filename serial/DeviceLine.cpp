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
    bool Configure(const char*& failedStep, int& error) override {
        return platform::Configure(m_handle, failedStep, error);
    }
    void Purge() override { platform::Purge(m_handle); }
    void PurgeInput() override { platform::PurgeInput(m_handle); }
    int QueueCount(int& error) override { return platform::QueueCount(m_handle, error); }
    long Read(uint8_t* buffer, size_t size, int& error) override {
        return platform::Read(m_handle, buffer, size, error);
    }
    bool Write(const uint8_t* bytes, size_t size, int timeoutMs, int& error) override {
        return platform::Write(m_handle, bytes, size, timeoutMs, error);
    }
    platform::WaitResult WaitForAny(const platform::CWaitEvent& stop, const platform::CWaitEvent& write,
                                    int& error) override {
        return platform::WaitForAny(m_handle, stop, write, error);
    }

private:
    platform::PortHandle m_handle;
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
