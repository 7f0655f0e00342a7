// Writes a small fixed table as a workbook to the path given, so the export
// can be checked where the test suite cannot read workbooks itself (the
// Windows build under Wine): tests/e2e/export_sample.json is what a reader
// must find in it, read in the time zone the sample was written in.
//
//   tarvex-export-sample PATH

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "export/TableCells.h"
#include "text/TextCodec.h"
#include "weighing/WeightText.h"

namespace {

// Calendar seconds of 14:03:SS on 6 December 2026, local time.
int64_t LocalMoment(int second) {
    std::tm local{};
    local.tm_year = 2026 - 1900;
    local.tm_mon = 11;
    local.tm_mday = 6;
    local.tm_hour = 14;
    local.tm_min = 3;
    local.tm_sec = second;
    local.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&local));
}

int Run(const std::wstring& path) {
    using namespace tarvex;
    CMeasurementTable table;
    table.SetWords({L"Error", L"Overweight", L"\u79f0\u91cd Damaged frame:"});
    table.Add({LocalMoment(7), 1, 1.234, 1, RowKind::Weight, RemarkKind::None, L""});
    table.Add({LocalMoment(8), 2, 0, 2, RowKind::Error, RemarkKind::FrameBytes, std::wstring(L"_\r\0A", 4)});
    table.Add({LocalMoment(9), -3725, 555.5, 3, RowKind::Weight, RemarkKind::None, L""});
    std::vector<ExportColumn> columns;
    for (const wchar_t* caption : {L"No.", L"Weight", L"Unit", L"Duration", L"Time", L"Remarks"})
        columns.push_back({caption, caption == std::wstring(L"Remarks") ? 200 : 80});
    const ExportResult result = WriteWorkbook(TableExport(table, path, std::move(columns)));
    if (result.status != ExportStatus::Saved) {
        std::fprintf(stderr, "not saved: %s\n", Utf8FromWide(result.message).c_str());
        return 1;
    }
    return 0;
}

}  // namespace

#ifdef _WIN32
// The wide entry point: the path may name any folder.
int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    return Run(argv[1]);
}
#else
int main(int argc, char** argv) {
    if (argc != 2) return 2;
    return Run(tarvex::WideFromUtf8(argv[1]));
}
#endif
