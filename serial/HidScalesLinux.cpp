// USB scales on Linux: each hidraw node's device holds its report
// descriptor and, in its uevent, its name (HID_NAME) and place (HID_PHYS).
// A read of the node gives one input report.

#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <tuple>

#include "serial/HidLine.h"
#include "serial/HidScales.h"

namespace tarvex {
namespace {

// Where "/" is: TARVEX_HID_ROOT for tests and the simulator.
std::filesystem::path Root() {
    const char* root = std::getenv("TARVEX_HID_ROOT");
    return root && *root ? std::filesystem::path(root) : std::filesystem::path("/");
}

std::string UeventValue(const std::string& uevent, std::string_view key) {
    std::istringstream lines(uevent);
    for (std::string line; std::getline(lines, line);)
        if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 && line[key.size()] == '=')
            return line.substr(key.size() + 1);
    return {};
}

std::string WholeFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// While quiet, how often the line looks whether its node is still there: a
// pipe standing in for a device says nothing when its writer goes.
constexpr int NODE_LOOK_MS = 500;
// hidraw's own limit on a report.
constexpr size_t MAX_REPORT_BYTES = 4096;

class CHidLine final : public CHidLineBase {
public:
    CHidLine(int fd, std::string node, HidScaleLayout layout)
        : m_fd(fd), m_node(std::move(node)), m_layout(std::move(layout)) {
        struct stat info {};
        if (::fstat(m_fd, &info) == 0) m_identity = {info.st_dev, info.st_ino};
    }
    ~CHidLine() override { ::close(m_fd); }
    CHidLine(const CHidLine&) = delete;
    CHidLine& operator=(const CHidLine&) = delete;

    const LineSteps& Steps() const override {
        static const LineSteps steps{"poll()", "read()", "write()"};
        return steps;
    }
    // No count of what waits: at least a report does when the node is
    // readable (or its end is there to be read).
    int QueueCount(int&) override {
        if (Kept()) return KeptCount();
        pollfd p{m_fd, POLLIN, 0};
        return ::poll(&p, 1, 0) > 0 ? 1 : 0;
    }
    long Read(uint8_t* buffer, size_t size, int& error) override {
        // A report is read whole however little room the caller has left:
        // what does not fit is kept for the next read.
        if (!Kept()) {
            uint8_t report[MAX_REPORT_BYTES];
            const long got = platform::Read(m_fd, report, sizeof report, error);
            if (got < 0) return got;
            Keep(std::vector<uint8_t>(report, report + got));
        }
        return TakeKept(buffer, size);
    }
    bool Write(const uint8_t* bytes, size_t size, int timeoutMs, int& error) override {
        // The one report a scale is sent is its zero, as output or feature report.
        if (m_layout.zero && m_layout.zero->kind == HidReportKind::Feature) {
            std::vector<uint8_t> report(bytes, bytes + size);
            if (::ioctl(m_fd, HIDIOCSFEATURE(report.size()), report.data()) >= 0) return true;
            error = errno;
            return false;
        }
        return platform::Write(m_fd, bytes, size, timeoutMs, error);
    }
    platform::WaitResult WaitForAny(const platform::CWaitEvent& stop, const platform::CWaitEvent& write, int timeoutMs,
                                    int& error) override {
        for (;;) {
            const int slice = timeoutMs < 0 ? NODE_LOOK_MS : std::min(timeoutMs, NODE_LOOK_MS);
            const platform::WaitResult result = platform::WaitForAny(m_fd, stop, write, slice, error);
            if (result != platform::WaitResult::Timeout) return result;
            if (!NodeStillThere()) {
                error = ENODEV;
                return platform::WaitResult::Removed;
            }
            if (timeoutMs >= 0 && (timeoutMs -= slice) <= 0) return platform::WaitResult::Timeout;
        }
    }

private:
    bool NodeStillThere() const {
        struct stat info {};
        return ::stat(m_node.c_str(), &info) == 0 && std::pair{info.st_dev, info.st_ino} == m_identity;
    }

    int m_fd;
    std::string m_node;
    HidScaleLayout m_layout;
    std::pair<dev_t, ino_t> m_identity{};
};

}  // namespace

std::vector<HidScaleDevice> FindHidScales() {
    std::vector<HidScaleDevice> scales;
    const std::filesystem::path root = Root();
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(root / "sys/class/hidraw", error)) {
        const std::string descriptor = WholeFile(entry.path() / "device/report_descriptor");
        const HidDescriptorRead read =
            ReadHidDescriptor(reinterpret_cast<const uint8_t*>(descriptor.data()), descriptor.size());
        if (!read.isScale || !read.layout) continue;
        const std::string uevent = WholeFile(entry.path() / "device/uevent");
        HidScaleDevice scale;
        scale.node = (root / "dev" / entry.path().filename()).string();
        scale.name = UeventValue(uevent, "HID_NAME");
        scale.place = UeventValue(uevent, "HID_PHYS");
        if (scale.name.empty()) scale.name = entry.path().filename().string();
        scale.layout = *read.layout;
        struct stat info {};
        const int wanted = ::stat(scale.node.c_str(), &info) == 0 && S_ISFIFO(info.st_mode) ? R_OK : R_OK | W_OK;
        if (::access(scale.node.c_str(), wanted) != 0 && (errno == EACCES || errno == EPERM)) scale.openError = errno;
        scales.push_back(std::move(scale));
    }
    std::sort(scales.begin(), scales.end(), [](const HidScaleDevice& a, const HidScaleDevice& b) {
        return std::tie(a.place, a.name, a.node) < std::tie(b.place, b.name, b.node);
    });
    return scales;
}

std::unique_ptr<ISerialLine> OpenHidScale(const HidScaleDevice& wanted, int& error) {
    // Its node may have another number since it was plugged in again.
    for (const HidScaleDevice& scale : FindHidScales()) {
        if (scale.name != wanted.name || scale.place != wanted.place) continue;
        struct stat info {};
        // A pipe stands in for a device in tests: read only, so that its
        // writer's end is the device's.
        const bool pipe = ::stat(scale.node.c_str(), &info) == 0 && S_ISFIFO(info.st_mode);
        const int fd = ::open(scale.node.c_str(), (pipe ? O_RDONLY : O_RDWR) | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            error = errno;
            return nullptr;
        }
        error = 0;
        return std::make_unique<CHidLine>(fd, scale.node, scale.layout);
    }
    error = ENODEV;
    return nullptr;
}

}  // namespace tarvex
