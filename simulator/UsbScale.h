#pragma once
// A USB postal scale as Linux shows it, laid out under a folder that
// stands for "/" (the program reads it there by TARVEX_HID_ROOT): its
// hidraw node's report descriptor and name in sys/class/hidraw, and a pipe
// for the node in dev, into which it writes a report as the weight changes
// and every printEveryMs. Pulled, its files go; plugged again, it comes
// back at the same place under the next node number.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "simulator/Platter.h"

namespace tarvex::sim {

// Report 3: status, unit, Data Scaling and a 16-bit Data Weight, as the
// Scales usage page (HID Point of Sale Usage Tables) names them.
extern const std::vector<uint8_t> USB_SCALE_DESCRIPTOR;
inline constexpr char USB_SCALE_NAME[] = "Tarvex Simulated Postal Scale";

class CUsbScale {
public:
    struct Options {
        std::filesystem::path root;
        std::string unit = "lb";  // kg, g, lb or oz
        int printEveryMs = 100;
    };

    explicit CUsbScale(Options options);
    ~CUsbScale();
    CUsbScale(const CUsbScale&) = delete;
    CUsbScale& operator=(const CUsbScale&) = delete;

    // Writes reports until quit is set; while nobody reads, none.
    void Run(const std::atomic<bool>& quit);
    void Put(double kilograms);
    void Pull();
    void Plug();
    unsigned Reports() const { return m_reports.load(); }
    std::filesystem::path Node() const;

private:
    std::string Report(const PlatterState& state) const;
    void Write(const std::string& report);
    void Close();

    const Options m_options;
    mutable std::mutex m_lock;  // the platter, the node and its number
    CPlatter m_platter;
    int m_number = 0;   // hidrawN
    bool m_plugged = false;
    int m_fd = -1;      // the pipe's writing end, while someone reads
    std::atomic<unsigned> m_reports{0};
};

}  // namespace tarvex::sim
