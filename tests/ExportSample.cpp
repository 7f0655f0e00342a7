// Writes a small fixed table as a workbook to the path given, so the export
// can be checked where the test suite cannot read workbooks itself (the
// Windows build under Wine): tests/e2e/export_sample.json is what a reader
// must find in it.
//
//   tarvex-export-sample PATH

#include <cstdio>
#include <string>
#include <vector>

#include "TextCodec.h"
#include "WorkbookExport.h"

namespace {

int Run(const std::wstring& path) {
    const std::vector<std::vector<std::wstring>> rows = {
        {L"       1", L"1.2340", L"KG", L"00:00:01", L"14:03:07 12/06/2026", L""},
        {L"       2", L"Error", L"KG", L"00:00:02", L"14:03:08 12/06/2026", L"\u79f0\u91cd Damaged frame:_\r"},
        {L"       3", L"2:3.27", L"LB:OZ", L"-1:-2:-5", L"14:03:09 12/06/2026", L""},
    };
    tarvex::ExportRequest request;
    request.path = path;
    for (const wchar_t* caption : {L"No.", L"Weight", L"Unit", L"Duration", L"Time", L"Remarks"})
        request.columns.push_back({caption, caption == std::wstring(L"Remarks") ? 200 : 80});
    request.rows = static_cast<int>(rows.size());
    request.cell = [&rows](int row, int column) -> const std::wstring& {
        return rows[static_cast<size_t>(row)][static_cast<size_t>(column)];
    };
    const tarvex::ExportResult result = tarvex::WriteWorkbook(request);
    if (result.status != tarvex::ExportStatus::Saved) {
        std::fprintf(stderr, "not saved: %s\n", tarvex::Utf8FromWide(result.message).c_str());
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
