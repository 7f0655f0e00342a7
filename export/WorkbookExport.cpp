#include "WorkbookExport.h"

#include <xlsxwriter.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

#ifdef _WIN32
#include <direct.h>
#endif

#include "CellTexts.h"
#include "TextCodec.h"

namespace tarvex {

std::string GetHeaderCellName(int n) {
    return std::string(1, static_cast<char>(64 + n)) + "1 ";
}

std::wstring DefaultExportName(int64_t calendarTime) {
    return FormatLocalTime(calendarTime, "TarvexDataFile-%Y-%m-%d-%H-%M-%S");
}

bool IsPlainNumber(std::wstring_view text, double& value) {
    while (!text.empty() && text.front() == L' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == L' ') text.remove_suffix(1);
    std::string narrow;
    bool digit = false, point = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c >= L'0' && c <= L'9') digit = true;
        else if (c == L'.' && !point) point = true;
        else if (!(c == L'-' && i == 0)) return false;
        narrow.push_back(static_cast<char>(c));
    }
    if (!digit) return false;
    if (narrow.back() == '.') narrow.pop_back();  // "12345." as the Data cell cuts it
    const auto res = std::from_chars(narrow.data(), narrow.data() + narrow.size(), value);
    return res.ec == std::errc() && res.ptr == narrow.data() + narrow.size();
}

namespace {

// The writer keeps its rows in temporary files; without room for them it
// cannot begin, whatever the library would say later.
bool TempFolderUsable(const std::string& folder) {
    if (folder.empty()) {
        std::FILE* probe = std::tmpfile();
        if (probe) std::fclose(probe);
        return probe != nullptr;
    }
    const std::filesystem::path probe =
        PathFromWide(WideFromUtf8(folder)) / ("tarvex-probe-" + std::to_string(std::random_device{}()));
    bool usable;
    {
        std::ofstream out(probe, std::ios::binary | std::ios::trunc);
        usable = static_cast<bool>(out << 'x') && static_cast<bool>(out.flush());
    }
    std::error_code ignored;
    std::filesystem::remove(probe, ignored);
    return usable;
}

#ifdef _WIN32
// The library opens files through the ANSI code page, which cannot name
// every folder ("C:\Users\张伟\..."). It is handed a plain relative name in
// the target's folder, made current with the wide API meanwhile.
class CInFolder {
public:
    explicit CInFolder(const std::filesystem::path& folder) {
        wchar_t* previous = ::_wgetcwd(nullptr, 0);
        if (previous) {
            m_previous = previous;
            std::free(previous);
        }
        m_entered = !folder.empty() && ::_wchdir(folder.c_str()) == 0;
    }
    ~CInFolder() {
        if (m_entered && !m_previous.empty()) ::_wchdir(m_previous.c_str());
    }
    bool Entered() const { return m_entered; }

private:
    std::wstring m_previous;
    bool m_entered = false;
};
#endif

std::wstring WriterMessage(lxw_error error) { return WideFromUtf8(lxw_strerror(error)); }

// Fills the sheet; the first writer error stops it.
lxw_error FillSheet(lxw_workbook* workbook, lxw_worksheet* sheet, const ExportRequest& r) {
    lxw_format* header = workbook_add_format(workbook);
    format_set_bold(header);
    format_set_align(header, LXW_ALIGN_VERTICAL_CENTER);
    const auto columns = static_cast<lxw_col_t>(r.columns.size());
    lxw_error err;
    for (lxw_col_t c = 0; c < columns; ++c) {
        const int width = r.columns[c].pixelWidth / 6;
        if ((err = worksheet_set_column(sheet, c, c, width, nullptr)) != LXW_NO_ERROR) return err;
    }
    if ((err = worksheet_set_row(sheet, 0, 50, header)) != LXW_NO_ERROR) return err;
    for (lxw_col_t c = 0; c < columns; ++c) {
        const lxw_col_t col = lxw_name_to_col(GetHeaderCellName(static_cast<int>(c) + 1).c_str());
        const std::string caption = Utf8FromWide(r.columns[c].caption);
        if ((err = worksheet_write_string(sheet, 0, col, caption.c_str(), header)) != LXW_NO_ERROR)
            return err;
    }
    std::string text;
    for (int row = 0; row < r.rows; ++row) {
        const auto sheetRow = static_cast<lxw_row_t>(row + 1);
        for (lxw_col_t c = 0; c < columns; ++c) {
            const std::wstring& cell = r.cell(row, static_cast<int>(c));
            if (cell.empty()) continue;
            double number;
            if (IsPlainNumber(cell, number)) {
                err = worksheet_write_number(sheet, sheetRow, c, number, nullptr);
            } else {
                text = Utf8FromWide(cell);
                err = worksheet_write_string(sheet, sheetRow, c, text.c_str(), nullptr);
            }
            if (err != LXW_NO_ERROR) return err;
        }
    }
    return LXW_NO_ERROR;
}

}  // namespace

ExportResult WriteWorkbook(const ExportRequest& request) {
    namespace fs = std::filesystem;
    const fs::path target = PathFromWide(request.path);
#ifdef _WIN32
    CInFolder inFolder(target.parent_path());
    const fs::path written = "tarvex-export.part~";  // ASCII, in the target's folder
    fs::path partial = inFolder.Entered() ? target.parent_path() / written : target;
    if (!inFolder.Entered()) partial += ".part~";
    const std::string libraryPath = inFolder.Entered() ? written.string() : partial.string();
#else
    fs::path partial = target;
    partial += ".part~";
    const std::string libraryPath = partial.string();
#endif
    std::error_code ignored;
    const auto dropPartial = [&] { fs::remove(partial, ignored); };

    if (!TempFolderUsable(request.tempFolder))
        return {ExportStatus::CouldNotBegin, L"there is no room for the writer's temporary files"};
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;  // rows go to disk as they are written
    std::string tempFolder = request.tempFolder;
#ifdef _WIN32
    // The system's temporary folder may have a name the library cannot open.
    if (tempFolder.empty() && inFolder.Entered()) tempFolder = ".";
#endif
    options.tmpdir = tempFolder.empty() ? nullptr : tempFolder.data();
    lxw_workbook* workbook = workbook_new_opt(libraryPath.c_str(), &options);
    if (!workbook) return {ExportStatus::CouldNotBegin, L"the workbook could not be created"};
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
    if (!sheet) {
        lxw_workbook_free(workbook);
        dropPartial();
        return {ExportStatus::CouldNotBegin, L"the worksheet could not be created"};
    }

    const lxw_error filled = FillSheet(workbook, sheet, request);
    const lxw_error closed = workbook_close(workbook);  // writes the file and frees everything
    if (filled != LXW_NO_ERROR || closed != LXW_NO_ERROR) {
        dropPartial();
        return {ExportStatus::SaveFailed, WriterMessage(filled != LXW_NO_ERROR ? filled : closed)};
    }
    std::error_code ec;
    fs::rename(partial, target, ec);
    if (ec) {
        dropPartial();
        return {ExportStatus::SaveFailed, WideFromUtf8(ec.message())};
    }
    return {ExportStatus::Saved, {}};
}

}  // namespace tarvex
