#include "export/WorkbookExport.h"

#include <xlsxwriter.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <system_error>

#ifdef _WIN32
#include <direct.h>
#else
#include <unistd.h>
#endif

#include "export/BiffWorkbook.h"
#include "weighing/CellTexts.h"
#include "export/CompoundFile.h"
#include "files/WholeFile.h"
#include "text/TextCodec.h"
#include "text/SystemReason.h"

namespace tarvex {

std::string GetHeaderCellName(int n) {
    return std::string(1, static_cast<char>(64 + n)) + "1 ";
}

std::wstring DefaultExportName(int64_t calendarTime) {
    return FormatLocalTime(calendarTime, "TarvexDataFile-%Y-%m-%d-%H-%M-%S");
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
    // Shown exactly as the table shows them.
    lxw_format* dateTime = workbook_add_format(workbook);
    format_set_num_format(dateTime, "hh:mm:ss mm/dd/yyyy");
    lxw_format* timeOfDay = workbook_add_format(workbook);
    format_set_num_format(timeOfDay, "hh:mm:ss");
    for (lxw_col_t c = 0; c < columns; ++c) {
        const lxw_col_t col = lxw_name_to_col(GetHeaderCellName(static_cast<int>(c) + 1).c_str());
        const std::string caption = Utf8FromWide(r.columns[c].caption);
        if ((err = worksheet_write_string(sheet, 0, col, caption.c_str(), header)) != LXW_NO_ERROR)
            return err;
    }
    // Numbers show the decimals the table shows ("0.5000", not "0.5").
    std::map<std::string, lxw_format*> numberFormats;
    const auto numberFormat = [&](const std::string& pattern) -> lxw_format* {
        if (pattern.empty()) return nullptr;
        lxw_format*& format = numberFormats[pattern];
        if (!format) {
            format = workbook_add_format(workbook);
            format_set_num_format(format, pattern.c_str());
        }
        return format;
    };
    std::string text;
    for (int row = 0; row < r.rows; ++row) {
        const auto sheetRow = static_cast<lxw_row_t>(row + 1);
        for (lxw_col_t c = 0; c < columns; ++c) {
            const ExportCell cell = r.cell(row, static_cast<int>(c));
            switch (cell.kind) {
                case ExportCell::Kind::Empty: continue;
                case ExportCell::Kind::Number:
                    err = worksheet_write_number(sheet, sheetRow, c, cell.number, numberFormat(cell.numberFormat));
                    break;
                case ExportCell::Kind::DateTime:
                case ExportCell::Kind::TimeOfDay: {
                    const CellMoment& m = cell.moment;
                    lxw_datetime value{m.year, m.month, m.day, m.hour, m.minute, static_cast<double>(m.second)};
                    err = worksheet_write_datetime(sheet, sheetRow, c, &value,
                                                   cell.kind == ExportCell::Kind::DateTime ? dateTime : timeOfDay);
                    break;
                }
                case ExportCell::Kind::Text:
                    text = Utf8FromWide(cell.text);
                    err = worksheet_write_string(sheet, sheetRow, c, text.c_str(), nullptr);
                    break;
            }
            if (err != LXW_NO_ERROR) return err;
        }
    }
    return LXW_NO_ERROR;
}

}  // namespace

namespace {

// Copies the finished workbook to its place with the program's own file
// calls, so a failure carries the system's reason ("No space left on device").
bool CopyInto(const std::filesystem::path& from, CWholeFile& out) {
    std::ifstream in(from, std::ios::binary);
    if (!in) return false;
    char buffer[65536];
    while (in) {
        in.read(buffer, sizeof buffer);
        const auto got = static_cast<size_t>(in.gcount());
        if (got > 0 && !out.Write(std::string_view(buffer, got))) return false;
    }
    return true;
}

}  // namespace

namespace {

bool EndsWith(const std::wstring& path, std::wstring_view ending) {
    if (path.size() < ending.size()) return false;
    for (size_t i = 0; i < ending.size(); ++i)
        if (std::towlower(path[path.size() - ending.size() + i]) != static_cast<wint_t>(ending[i])) return false;
    return true;
}

}  // namespace

bool NamesXlsx(const std::wstring& path) { return EndsWith(path, L".xlsx"); }

std::wstring WorkbookPathFor(const std::wstring& typed, const std::wstring& extension) {
    if (EndsWith(typed, L".xls") || EndsWith(typed, L".xlsx")) return typed;
    return typed + extension;
}

std::wstring WorkbookNameForType(const std::wstring& name, const std::wstring& extension) {
    for (const std::wstring_view ending : {L".xls", L".xlsx"})
        if (EndsWith(name, ending)) return name.substr(0, name.size() - ending.size()) + extension;
    return name;
}

namespace {

BiffCell ToBiff(ExportCell cell) {
    BiffCell out;
    const CellMoment& m = cell.moment;
    switch (cell.kind) {
        case ExportCell::Kind::Empty: break;
        case ExportCell::Kind::Number:
            out.kind = BiffCell::Kind::Number;
            out.value = cell.number;
            out.numberFormat = std::move(cell.numberFormat);
            break;
        case ExportCell::Kind::DateTime:
            out.kind = BiffCell::Kind::DateTime;
            out.value = SpreadsheetSerial(m.year, m.month, m.day, m.hour, m.minute, m.second);
            break;
        case ExportCell::Kind::TimeOfDay:
            out.kind = BiffCell::Kind::TimeOfDay;
            out.value = TimeOfDaySerial(m.hour, m.minute, m.second);
            break;
        case ExportCell::Kind::Text:
            out.kind = BiffCell::Kind::Text;
            out.text = std::move(cell.text);
            break;
    }
    return out;
}

// A genuine Excel 97-2003 file: built in memory, written beside the target,
// pushed to the disk and then put in its place.
ExportResult WriteBiff(const ExportRequest& request) {
    namespace fs = std::filesystem;
    if (request.rows > BIFF_MAX_ROWS - 1)
        return {ExportStatus::CouldNotBegin, L"an Excel 97-2003 workbook holds at most " +
                                                 std::to_wstring(BIFF_MAX_ROWS - 1) + L" rows below its captions"};
    CWholeFile out(PathFromWide(request.path), {});
    if (!out.Begin()) return {ExportStatus::SaveFailed, SystemReason(out.Error())};

    BiffSheet sheet;
    for (const ExportColumn& c : request.columns) sheet.columns.push_back({c.caption, c.pixelWidth});
    sheet.rows = request.rows;
    sheet.cell = [&request](int row, int column) { return ToBiff(request.cell(row, column)); };
    const std::vector<uint8_t> stream = BuildBiffWorkbook(sheet);

    bool written = true;
    EmitCompoundFile(stream, [&](const uint8_t* bytes, size_t size) {
        if (written) written = out.Write(std::string_view(reinterpret_cast<const char*>(bytes), size));
    });
    if (!written || !out.Commit()) return {ExportStatus::SaveFailed, SystemReason(out.Error())};
    return {ExportStatus::Saved, {}};
}

}  // namespace

ExportResult WriteWorkbook(const ExportRequest& request) {
    if (!NamesXlsx(request.path)) return WriteBiff(request);
    namespace fs = std::filesystem;
    std::error_code ignored;
    // The target's folder first: one that cannot be written is told at once,
    // in the system's words, before any work is done.
    CWholeFile out(PathFromWide(request.path), {});
    if (!out.Begin()) return {ExportStatus::SaveFailed, SystemReason(out.Error())};

    if (!TempFolderUsable(request.tempFolder)) {
        return {ExportStatus::CouldNotBegin, L"there is no room for the writer's temporary files"};
    }
    // The writer builds the workbook in the temporary folder.
    const fs::path tempFolder =
        request.tempFolder.empty() ? fs::temp_directory_path(ignored) : PathFromWide(WideFromUtf8(request.tempFolder));
    const std::string built = "tarvex-export-" + std::to_string(std::random_device{}()) + ".xlsx";
    const fs::path builtPath = tempFolder / built;
#ifdef _WIN32
    // The library opens files through the ANSI code page, which cannot name
    // every folder ("C:\Users\张伟\..."): it is handed a plain name in the
    // temporary folder, made current with the wide API meanwhile.
    CInFolder inFolder(tempFolder);
    const std::string libraryPath = inFolder.Entered() ? built : builtPath.string();
    std::string libraryTemp = inFolder.Entered() ? "." : request.tempFolder;
#else
    const std::string libraryPath = builtPath.string();
    std::string libraryTemp = request.tempFolder;
#endif
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;  // rows go to disk as they are written
    options.tmpdir = libraryTemp.empty() ? nullptr : libraryTemp.data();
    lxw_workbook* workbook = workbook_new_opt(libraryPath.c_str(), &options);
    if (!workbook) {
        return {ExportStatus::CouldNotBegin, L"the workbook could not be created"};
    }
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
    if (!sheet) {
        lxw_workbook_free(workbook);
        return {ExportStatus::CouldNotBegin, L"the worksheet could not be created"};
    }

    const lxw_error filled = FillSheet(workbook, sheet, request);
    errno = 0;
    const lxw_error closed = workbook_close(workbook);  // writes the file and frees everything
    const int closeErrno = errno;
    if (filled != LXW_NO_ERROR || closed != LXW_NO_ERROR) {
        fs::remove(builtPath, ignored);
        if (closeErrno != 0) return {ExportStatus::SaveFailed, SystemReason(closeErrno)};
        return {ExportStatus::SaveFailed, WriterMessage(filled != LXW_NO_ERROR ? filled : closed)};
    }
    const bool copied = CopyInto(builtPath, out);
    fs::remove(builtPath, ignored);
    if (!copied || !out.Commit()) return {ExportStatus::SaveFailed, SystemReason(out.Error())};
    return {ExportStatus::Saved, {}};
}

}  // namespace tarvex
