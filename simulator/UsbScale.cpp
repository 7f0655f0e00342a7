#include "simulator/UsbScale.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace tarvex::sim {

const std::vector<uint8_t> USB_SCALE_DESCRIPTOR{
    0x05, 0x8D, 0x09, 0x01, 0xA1, 0x01,              // Usage Page (Scales), Usage (Scales), Collection (Application)
    0x85, 0x03,                                      //   Report ID (3)
    0x19, 0x71, 0x29, 0x78, 0x15, 0x01, 0x25, 0x08,  //   Usages Fault .. Requires Rezeroing, values 1-8
    0x75, 0x08, 0x95, 0x01, 0x81, 0x00,              //   status: 8 bits, Input (Array)
    0x19, 0x51, 0x29, 0x5C, 0x15, 0x01, 0x25, 0x0C,  //   Usages Milligram .. Pound, values 1-12
    0x81, 0x00,                                      //   unit: 8 bits, Input (Array)
    0x09, 0x41, 0x15, 0x80, 0x25, 0x7F, 0x81, 0x02,  //   Data Scaling: 8 bits signed, Input (Variable)
    0x09, 0x40, 0x15, 0x00, 0x27, 0xFF, 0xFF, 0x00, 0x00,
    0x75, 0x10, 0x81, 0x02,                          //   Data Weight: 16 bits, Input (Variable)
    0xC0,
};

namespace {

// The unit's usage (less 0x50), the power of ten of its last figure, and
// its units per kilogram.
struct UnitOnWire {
    const char* name;
    uint8_t usage;
    int exponent;
    double perKilogram;
};
constexpr UnitOnWire UNITS[] = {
    {"kg", 0x03, -3, 1.0}, {"g", 0x02, 0, 1000.0}, {"lb", 0x0C, -2, 1 / 0.45359237}, {"oz", 0x0B, -1, 16 / 0.45359237}};

const UnitOnWire& Unit(const std::string& name) {
    for (const UnitOnWire& unit : UNITS)
        if (name == unit.name) return unit;
    throw std::invalid_argument("a USB scale weighs in kg, g, lb or oz, not " + name);
}

}  // namespace

CUsbScale::CUsbScale(Options options) : m_options(std::move(options)) {
    Unit(m_options.unit);
    Plug();
}

CUsbScale::~CUsbScale() { Pull(); }

std::filesystem::path CUsbScale::Node() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_options.root / "dev" / ("hidraw" + std::to_string(m_number));
}

void CUsbScale::Plug() {
    Pull();
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_number;
    const std::string name = "hidraw" + std::to_string(m_number);
    const std::filesystem::path device = m_options.root / "sys/class/hidraw" / name / "device";
    std::filesystem::create_directories(device);
    std::filesystem::create_directories(m_options.root / "dev");
    std::ofstream(device / "report_descriptor", std::ios::binary)
        .write(reinterpret_cast<const char*>(USB_SCALE_DESCRIPTOR.data()), static_cast<std::streamsize>(USB_SCALE_DESCRIPTOR.size()));
    std::ofstream(device / "uevent") << "DRIVER=hid-generic\nHID_ID=0003:00001D6B:00000104\nHID_NAME=" << USB_SCALE_NAME
                                     << "\nHID_PHYS=usb-0000:00:14.0-2/input0\nHID_UNIQ=\n";
    const std::filesystem::path node = m_options.root / "dev" / name;
    if (::mkfifo(node.c_str(), 0600) != 0 && errno != EEXIST)
        throw std::runtime_error("cannot make " + node.string() + ": " + std::strerror(errno));
    m_plugged = true;
}

void CUsbScale::Pull() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_plugged) return;
    Close();
    const std::string name = "hidraw" + std::to_string(m_number);
    std::error_code ignored;
    std::filesystem::remove(m_options.root / "dev" / name, ignored);
    std::filesystem::remove_all(m_options.root / "sys/class/hidraw" / name, ignored);
    m_plugged = false;
}

void CUsbScale::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

void CUsbScale::Put(double kilograms) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_platter.Put(kilograms, Clock::now());
}

std::string CUsbScale::Report(const PlatterState& state) const {
    const UnitOnWire& unit = Unit(m_options.unit);
    const auto magnitude = static_cast<long>(std::lround(std::fabs(state.kilograms) * unit.perKilogram *
                                                          std::pow(10.0, -unit.exponent)));
    const uint8_t status = state.over ? 6 : state.under ? 5 : state.motion ? 3 : state.atZero ? 2 : 4;
    const auto weight = static_cast<uint16_t>(std::min(magnitude, 0xFFFFL));
    return {static_cast<char>(0x03), static_cast<char>(status), static_cast<char>(unit.usage),
            static_cast<char>(unit.exponent), static_cast<char>(weight & 0xFF), static_cast<char>(weight >> 8)};
}

void CUsbScale::Write(const std::string& report) {
    if (!m_plugged) return;
    if (m_fd < 0) {
        // Opens only while the program reads: a device's reports are not
        // kept for a reader to come.
        m_fd = ::open((m_options.root / "dev" / ("hidraw" + std::to_string(m_number))).c_str(),
                      O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (m_fd < 0) return;
    }
    if (::write(m_fd, report.data(), report.size()) == static_cast<ssize_t>(report.size()))
        ++m_reports;
    else if (errno == EPIPE)
        Close();  // the reader let go
}

void CUsbScale::Run(const std::atomic<bool>& quit) {
    std::string last;
    auto due = Clock::now();
    while (!quit.load()) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            const std::string report = Report(m_platter.State(Clock::now()));
            if (report != last || Clock::now() >= due) {
                Write(report);
                last = report;
                due = Clock::now() + std::chrono::milliseconds(m_options.printEveryMs);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace tarvex::sim
