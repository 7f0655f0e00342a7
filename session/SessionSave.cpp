// Saving the table: the save dialog, the replace question, the automatic
// save of a full table and where it goes when the program's folder cannot
// be written.
#include "session/Session.h"

#include <ctime>

#include "export/TableCells.h"
#include "session/UserFolders.h"
#include "text/BoxTexts.h"
#include "text/TextCodec.h"

namespace tarvex {

void CSession::OnSaveTable() {
    int rowsSaved = 0;
    if (!SaveTableToExcel(SaveMode::Asked, rowsSaved)) return;
    if (rowsSaved == m_core.Table().RowCount()) m_fullTableSaved = true;
    ClearRows(rowsSaved);
}

// Where the save dialog opens: the folder of the last save, else the user's
// documents, else home; never the folder the program was started from.
std::wstring CSession::SaveDialogFolder() const {
    std::error_code ignored;
    const std::wstring last = RememberedSaveFolder(m_userSettingFile);
    if (!last.empty() && std::filesystem::is_directory(PathFromWide(last), ignored)) return last;
    const std::filesystem::path documents = m_documentsFolder.parent_path();
    if (!documents.empty() && std::filesystem::is_directory(documents, ignored)) return WideFromPath(documents);
    return WideFromPath(UserHomeFolder());
}

std::wstring CSession::AskSavePath(const std::wstring& initialName) {
    SaveChoice shown(initialName, m_saveExtension);
    std::wstring folder = SaveDialogFolder();
    for (;;) {
        const SaveChoice choice = m_ui.AskSavePath(shown.path, folder, shown.extension);
        if (choice.path.empty()) return {};
        const std::wstring path = WorkbookPathFor(choice.path, choice.extension);
        if (path == choice.path) return path;
        // The dialog asked about the name as typed; the name completed here
        // may be an existing file, which is replaced only when the user says so.
        std::error_code ignored;
        if (!std::filesystem::exists(PathFromWide(path), ignored)) return path;
        if (m_ui.AskYesNo(MessageText(m_texts, L"Replace_File", {{L"{file}", path}})) == ANSWER_YES) return path;
        // The dialog comes back as the clerk left it.
        const std::filesystem::path typed = PathFromWide(choice.path);
        shown = SaveChoice(WideFromPath(typed.filename()), choice.extension);
        folder = WideFromPath(typed.parent_path());
    }
}

namespace {

// The stamped name in the folder, or with "-2", "-3" ... after the stamp:
// two full tables within a second never share a workbook.
constexpr int MAX_NAME_SUFFIX = 99;

std::wstring UnusedName(const std::filesystem::path& folder, const std::wstring& stamp) {
    std::error_code ignored;
    std::filesystem::path path = folder / PathFromWide(stamp + L".xls");
    for (int n = 2; std::filesystem::exists(path, ignored) && n <= MAX_NAME_SUFFIX; ++n)
        path = folder / PathFromWide(stamp + L"-" + std::to_wstring(n) + L".xls");
    return WideFromPath(path);
}

}  // namespace

bool CSession::SaveTableToExcel(SaveMode mode, int& rowsSaved) {
    const bool automatic = mode == SaveMode::Automatic;
    const std::wstring stamp = DefaultExportName(static_cast<int64_t>(std::time(nullptr)));
    // The dialog offers the type the clerk chose last.
    const std::wstring fileName = stamp + m_saveExtension;
    std::wstring path;
    if (automatic) {
        path = UnusedName(PathFromWide(m_appDir), stamp);
    } else {
        path = AskSavePath(fileName);
        if (path.empty()) return false;
    }
    // The rows the workbook holds: readings that arrived while the dialog was
    // open are in it, later ones are not.
    rowsSaved = m_core.Table().RowCount();
    ExportResult result = WriteTable(path);
    if (!automatic && result.status == ExportStatus::Saved) {
        RememberSaveFolder(m_userSettingFile, WideFromPath(PathFromWide(path).parent_path()));
        m_saveExtension = NamesXlsx(path) ? L".xlsx" : L".xls";
    }
    bool elsewhere = false;
    if (automatic && result.status == ExportStatus::SaveFailed && !m_documentsFolder.empty()) {
        // An installed program's folder is not the user's to write: the
        // user's documents take the table instead, and the notice says so.
        std::error_code ignored;
        std::filesystem::create_directories(m_documentsFolder, ignored);
        path = UnusedName(m_documentsFolder, stamp);
        result = WriteTable(path);
        elsewhere = true;
    }
    switch (result.status) {
        case ExportStatus::Saved:
            m_savedRows = rowsSaved;
            m_savedPath = path;
            if (automatic) m_ui.ShowNoticeNoWait(FullTableSavedText(m_texts, path, elsewhere));
            m_ui.ShowStatus();
            return true;
        case ExportStatus::CouldNotBegin:
            ShowNotice(L"Create_Excel_Falie");
            return false;
        case ExportStatus::SaveFailed:
            m_ui.Tell(MessageText(m_texts, L"Save_Failed", {{L"{file}", path}, {L"{reason}", result.message}}));
            return false;
    }
    return false;
}

ExportResult CSession::WriteTable(const std::wstring& path) {
    // What the table shows now: rows that arrive from here on are not written.
    std::vector<ExportColumn> columns;
    const std::vector<int> widths = m_ui.ColumnWidths();
    for (size_t i = 0; i < widths.size() && i < TABLE_COLUMNS.size(); ++i)
        columns.push_back({Text(SECTION_HEADER, TABLE_COLUMNS[i].headerKey), widths[i]});
    ExportRequest request = TableExport(m_core.Table(), path, std::move(columns));
    request.tempFolder = m_exportTempFolder;
    m_ui.ShowBusy(true);
    ExportResult result = WriteWorkbook(request);
    m_ui.ShowBusy(false);
    return result;
}

}  // namespace tarvex
