// USB scales on Windows: the HID class's device interfaces from SetupAPI,
// the usage page and fields from the parsed descriptor (HidP_GetCaps and
// friends: Windows does not hand out the descriptor's bytes), the name from
// HidD_GetProductString, the reports by overlapped ReadFile. Each report is
// rewritten into one layout of the program's own (report 1: status, unit,
// exponent, a 32-bit weight), read back by the same translator as on Linux.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h, in this order: hidsdi.h brings the usages hidpi.h uses.
// MinGW's HID headers declare C functions without saying so.
#include <winternl.h>
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}
#include <setupapi.h>

#include <algorithm>
#include <cwctype>

#include "serial/HidLine.h"
#include "serial/HidScales.h"
#include "text/TextCodec.h"

namespace tarvex {
namespace {

constexpr uint8_t REWRITTEN_ID = 1;
constexpr size_t REWRITTEN_BYTES = 8;

HidScaleLayout RewrittenLayout() {
    HidScaleLayout layout;
    layout.reportId = REWRITTEN_ID;
    layout.inputBytes[REWRITTEN_ID] = REWRITTEN_BYTES;
    // A status or unit byte is its usage less 0x70 or 0x50.
    std::vector<uint16_t> statuses, units;
    for (uint16_t u = HID_STATUS_FIRST - 1; u <= HID_STATUS_LAST; ++u) statuses.push_back(u);
    for (uint16_t u = HID_UNIT_FIRST - 1; u <= HID_UNIT_LAST; ++u) units.push_back(u);
    layout.status = HidField{0, 8, false, 0, statuses};
    layout.unit = HidField{8, 8, false, 0, units};
    layout.scaling = HidField{16, 8, true, 0, {}};
    layout.weight = HidField{24, 32, true, 0, {}};
    return layout;
}

// A value field's reading, its sign as its logical minimum says.
std::optional<int32_t> Value(USAGE usage, PHIDP_PREPARSED_DATA data, std::vector<uint8_t>& report) {
    HIDP_VALUE_CAPS caps{};
    USHORT count = 1;
    if (HidP_GetSpecificValueCaps(HidP_Input, HID_PAGE_SCALES, 0, usage, &caps, &count, data) != HIDP_STATUS_SUCCESS)
        return std::nullopt;
    ULONG value = 0;
    if (HidP_GetUsageValue(HidP_Input, HID_PAGE_SCALES, 0, usage, &value, data, reinterpret_cast<PCHAR>(report.data()),
                           static_cast<ULONG>(report.size())) != HIDP_STATUS_SUCCESS)
        return std::nullopt;
    const unsigned bits = std::min<unsigned>(caps.BitSize, 32);
    if (caps.LogicalMin < 0 && bits < 32 && ((value >> (bits - 1)) & 1)) value |= ~0UL << bits;
    return static_cast<int32_t>(value);
}

// The scale's report in the program's own layout; empty for a report of another kind.
std::vector<uint8_t> Rewritten(PHIDP_PREPARSED_DATA data, std::vector<uint8_t>& report) {
    const std::optional<int32_t> weight = Value(HID_DATA_WEIGHT, data, report);
    if (!weight) return {};
    USAGE on[32];
    ULONG count = 32;
    uint8_t status = 0, unit = 0;
    if (HidP_GetUsages(HidP_Input, HID_PAGE_SCALES, 0, on, &count, data, reinterpret_cast<PCHAR>(report.data()),
                       static_cast<ULONG>(report.size())) == HIDP_STATUS_SUCCESS)
        for (ULONG i = 0; i < count; ++i) {
            if (on[i] >= HID_STATUS_FIRST && on[i] <= HID_STATUS_LAST) status = static_cast<uint8_t>(on[i] - (HID_STATUS_FIRST - 1));
            if (on[i] >= HID_UNIT_FIRST && on[i] <= HID_UNIT_LAST) unit = static_cast<uint8_t>(on[i] - (HID_UNIT_FIRST - 1));
        }
    const int32_t exponent = Value(HID_DATA_SCALING, data, report).value_or(0);
    const auto w = static_cast<uint32_t>(*weight);
    return {REWRITTEN_ID, status, unit, static_cast<uint8_t>(static_cast<int8_t>(exponent)),
            static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w >> 16), static_cast<uint8_t>(w >> 24)};
}

std::optional<HidZeroReport> ZeroReport(PHIDP_PREPARSED_DATA data) {
    for (const auto& [type, kind] : {std::pair{HidP_Output, HidReportKind::Output}, {HidP_Feature, HidReportKind::Feature}}) {
        HIDP_BUTTON_CAPS caps{};
        USHORT count = 1;
        if (HidP_GetSpecificButtonCaps(type, HID_PAGE_SCALES, 0, HID_ZERO_SCALE, &caps, &count, data) == HIDP_STATUS_SUCCESS &&
            count > 0)
            return HidZeroReport{kind, caps.ReportID, 2, 0};  // the bytes only ask for it; the line builds the report
    }
    return std::nullopt;
}

struct Preparsed {
    PHIDP_PREPARSED_DATA data = nullptr;
    HIDP_CAPS caps{};
    ~Preparsed() {
        if (data) HidD_FreePreparsedData(data);
    }
};

bool Parse(HANDLE device, Preparsed& parsed) {
    return HidD_GetPreparsedData(device, &parsed.data) && HidP_GetCaps(parsed.data, &parsed.caps) == HIDP_STATUS_SUCCESS;
}

HANDLE OpenDevice(const std::wstring& path, DWORD access, DWORD flags) {
    return ::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags, nullptr);
}

class CHidLine final : public CHidLineBase {
public:
    CHidLine(HANDLE device, HidScaleLayout layout) : m_device(device), m_layout(std::move(layout)) {
        Parse(m_device, m_parsed);
        m_report.resize(std::max<size_t>(m_parsed.caps.InputReportByteLength, 1));
        m_read.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~CHidLine() override {
        if (m_pending && ::CancelIoEx(m_device, &m_read)) {
            DWORD ignored = 0;
            ::GetOverlappedResult(m_device, &m_read, &ignored, TRUE);
        }
        ::CloseHandle(m_read.hEvent);
        ::CloseHandle(m_device);
    }
    CHidLine(const CHidLine&) = delete;
    CHidLine& operator=(const CHidLine&) = delete;

    const LineSteps& Steps() const override {
        static const LineSteps steps{"WaitForMultipleObjects()", "ReadFile()", "HidD_SetOutputReport()"};
        return steps;
    }
    int QueueCount(int&) override { return KeptCount(); }
    long Read(uint8_t* buffer, size_t size, int&) override { return TakeKept(buffer, size); }
    // The one report a scale is sent is its zero.
    bool Write(const uint8_t*, size_t, int, int& error) override {
        if (!m_layout.zero) return true;
        const bool feature = m_layout.zero->kind == HidReportKind::Feature;
        const HIDP_REPORT_TYPE type = feature ? HidP_Feature : HidP_Output;
        std::vector<char> report(feature ? m_parsed.caps.FeatureReportByteLength : m_parsed.caps.OutputReportByteLength);
        USAGE zero = HID_ZERO_SCALE;
        ULONG one = 1;
        if (HidP_InitializeReportForID(type, m_layout.zero->reportId, m_parsed.data, report.data(),
                                       static_cast<ULONG>(report.size())) != HIDP_STATUS_SUCCESS ||
            HidP_SetUsages(type, HID_PAGE_SCALES, 0, &zero, &one, m_parsed.data, report.data(),
                           static_cast<ULONG>(report.size())) != HIDP_STATUS_SUCCESS) {
            error = ERROR_INVALID_DATA;
            return false;
        }
        const BOOLEAN sent = feature ? HidD_SetFeature(m_device, report.data(), static_cast<ULONG>(report.size()))
                                     : HidD_SetOutputReport(m_device, report.data(), static_cast<ULONG>(report.size()));
        if (sent) return true;
        error = static_cast<int>(::GetLastError());
        return false;
    }
    platform::WaitResult WaitForAny(const platform::CWaitEvent& stop, const platform::CWaitEvent& write, int timeoutMs,
                                    int& error) override {
        if (Kept()) return platform::WaitResult::Line;
        if (!m_pending) {
            ::ResetEvent(m_read.hEvent);
            if (!::ReadFile(m_device, m_report.data(), static_cast<DWORD>(m_report.size()), nullptr, &m_read) &&
                ::GetLastError() != ERROR_IO_PENDING)
                return Ended(error);
            m_pending = true;
        }
        const HANDLE handles[] = {reinterpret_cast<HANDLE>(stop.Handle()), m_read.hEvent,
                                  reinterpret_cast<HANDLE>(write.Handle())};
        switch (::WaitForMultipleObjects(3, handles, FALSE, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs))) {
            case WAIT_OBJECT_0: return platform::WaitResult::Stop;
            case WAIT_OBJECT_0 + 1: {
                m_pending = false;
                DWORD got = 0;
                if (!::GetOverlappedResult(m_device, &m_read, &got, FALSE)) return Ended(error);
                std::vector<uint8_t> report(m_report.begin(), m_report.begin() + got);
                Keep(m_layout.common ? report : Rewritten(m_parsed.data, report));
                return platform::WaitResult::Line;
            }
            case WAIT_OBJECT_0 + 2: return platform::WaitResult::Write;
            case WAIT_TIMEOUT: return platform::WaitResult::Timeout;
            default: error = static_cast<int>(::GetLastError()); return platform::WaitResult::Failed;
        }
    }

private:
    // A scale switched off or pulled fails its read: that is its removal.
    platform::WaitResult Ended(int& error) {
        m_pending = false;
        error = static_cast<int>(::GetLastError());
        return platform::WaitResult::Removed;
    }

    HANDLE m_device;
    HidScaleLayout m_layout;
    Preparsed m_parsed;
    OVERLAPPED m_read{};
    bool m_pending = false;
    std::vector<uint8_t> m_report;  // where the pending read puts it
};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

std::vector<HidScaleDevice> FindHidScales() {
    std::vector<HidScaleDevice> scales;
    GUID hid{};
    HidD_GetHidGuid(&hid);
    const HDEVINFO set = ::SetupDiGetClassDevsW(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return scales;
    SP_DEVICE_INTERFACE_DATA item{};
    item.cbSize = sizeof item;
    for (DWORD i = 0; ::SetupDiEnumDeviceInterfaces(set, nullptr, &hid, i, &item); ++i) {
        DWORD size = 0;
        ::SetupDiGetDeviceInterfaceDetailW(set, &item, nullptr, 0, &size, nullptr);
        if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) continue;
        std::vector<uint8_t> buffer(size);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (!::SetupDiGetDeviceInterfaceDetailW(set, &item, detail, size, nullptr, nullptr)) continue;
        const std::wstring path = detail->DevicePath;
        // Opened for no access: enough to ask what it is, even of a keyboard.
        const HANDLE device = OpenDevice(path, 0, 0);
        if (device == INVALID_HANDLE_VALUE) continue;
        Preparsed parsed;
        wchar_t name[128] = {};
        const bool scale = Parse(device, parsed) && parsed.caps.UsagePage == HID_PAGE_SCALES;
        if (scale) HidD_GetProductString(device, name, sizeof name - sizeof name[0]);
        ::CloseHandle(device);
        if (!scale) continue;
        HidScaleDevice found;
        found.node = Utf8FromWide(path);
        found.place = Lower(found.node);
        found.name = name[0] ? Utf8FromWide(name) : found.node;
        HIDP_VALUE_CAPS weight{};
        USHORT count = 1;
        const bool described = HidP_GetSpecificValueCaps(HidP_Input, HID_PAGE_SCALES, 0, HID_DATA_WEIGHT, &weight, &count,
                                                          parsed.data) == HIDP_STATUS_SUCCESS;
        found.layout = described ? RewrittenLayout() : CommonHidScaleLayout(0);
        found.layout.zero = ZeroReport(parsed.data);
        const HANDLE trial = OpenDevice(path, GENERIC_READ | GENERIC_WRITE, FILE_FLAG_OVERLAPPED);
        if (trial == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED) found.openError = ERROR_ACCESS_DENIED;
        if (trial != INVALID_HANDLE_VALUE) ::CloseHandle(trial);
        scales.push_back(std::move(found));
    }
    ::SetupDiDestroyDeviceInfoList(set);
    std::sort(scales.begin(), scales.end(), [](const HidScaleDevice& a, const HidScaleDevice& b) { return a.place < b.place; });
    return scales;
}

std::unique_ptr<ISerialLine> OpenHidScale(const HidScaleDevice& wanted, int& error) {
    for (const HidScaleDevice& scale : FindHidScales()) {
        if (scale.name != wanted.name || scale.place != wanted.place) continue;
        const HANDLE device = OpenDevice(WideFromUtf8(scale.node), GENERIC_READ | GENERIC_WRITE, FILE_FLAG_OVERLAPPED);
        if (device == INVALID_HANDLE_VALUE) {
            error = static_cast<int>(::GetLastError());
            return nullptr;
        }
        error = 0;
        return std::make_unique<CHidLine>(device, scale.layout);
    }
    error = ERROR_DEVICE_NOT_CONNECTED;
    return nullptr;
}

}  // namespace tarvex
