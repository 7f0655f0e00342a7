// Saving the table as a workbook, from the save button or by itself when the
// table is full.

#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/msgdlg.h>
#include <wx/utils.h>

#include <ctime>

#include "BoxTexts.h"
#include "LanguageSettings.h"
#include "ScaleDlg.h"
#include "TableListCtrl.h"
#include "TableCells.h"
#include "TextCodec.h"
#include "WorkbookExport.h"

namespace tarvex {

void CScaleDlg::OnBnClickedSaveTable(wxCommandEvent&) { m_core.SaveTable(false); }

// Where the save dialog opens: the folder of the last save, else the user's
// documents, else home; never the folder the program was started from.
std::wstring CScaleDlg::SaveDialogFolder() const {
    std::error_code ignored;
    const std::wstring last = RememberedSaveFolder(m_userSettingFile);
    if (!last.empty() && std::filesystem::is_directory(PathFromWide(last), ignored)) return last;
    const std::filesystem::path documents = m_documentsFolder.parent_path();
    if (!documents.empty() && std::filesystem::is_directory(documents, ignored)) return WideFromPath(documents);
    return wxGetHomeDir().ToStdWstring();
}

std::wstring CScaleDlg::AskSavePath(const std::wstring& initialName) {
    for (;;) {
        // GTK's dialog adds no extension and asks about replacing only the
        // name it is given, so the name it starts with carries ".xls".
        wxFileDialog dialog(this, Text(SECTION_CAPTION, L"Save_Dialog_Title"), SaveDialogFolder(), initialName,
                            L"Excel Files(*.xls)|*.xls|Excel Workbook(*.xlsx)|*.xlsx",
                            wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
        if (dialog.ShowModal() != wxID_OK) return {};
        const std::wstring typed = dialog.GetPath().ToStdWstring();
        const std::wstring path = WorkbookPathFor(typed);
        if (path == typed) return path;
        // The dialog asked about the name as typed; the name completed here
        // may be an existing file, which is replaced only when the user says so.
        std::error_code ignored;
        if (!std::filesystem::exists(PathFromWide(path), ignored)) return path;
        if (AskYesNo(MessageText(m_texts, L"Replace_File", {{L"{file}", path}})) == ANSWER_YES) return path;
    }
}

bool CScaleDlg::SaveTableToExcel(bool bAuto, int& rowsSaved) {
    const std::wstring fileName = DefaultExportName(static_cast<int64_t>(std::time(nullptr))) + L".xls";
    std::wstring path;
    if (bAuto) {
        path = m_appDir + fileName;
    } else {
        path = m_chooseSavePath ? m_chooseSavePath(fileName) : AskSavePath(fileName);
        if (path.empty()) return false;
    }
    // The rows the workbook holds: readings that arrived while the dialog was
    // open are in it, later ones are not.
    rowsSaved = m_core.Table().RowCount();
    ExportResult result = WriteTable(path);
    if (!bAuto && result.status == ExportStatus::Saved)
        RememberSaveFolder(m_userSettingFile, WideFromPath(PathFromWide(path).parent_path()));
    if (bAuto && result.status == ExportStatus::SaveFailed && !m_documentsFolder.empty()) {
        // An installed program's folder is not the user's to write: the
        // user's documents take the table instead, and the notice says where.
        std::error_code ignored;
        std::filesystem::create_directories(m_documentsFolder, ignored);
        path = WideFromPath(m_documentsFolder / PathFromWide(fileName));
        result = WriteTable(path);
        if (result.status == ExportStatus::Saved) ShowNoticeNoWait(FullTableSavedElsewhereText(m_texts, path));
    }
    switch (result.status) {
        case ExportStatus::Saved:
            return true;
        case ExportStatus::CouldNotBegin:
            ShowMessage(MSG_OK, L"Create_Excel_Falie");
            return false;
        case ExportStatus::SaveFailed:
            ShowSaveFailed(path, result.message);
            return false;
    }
    return false;
}

ExportResult CScaleDlg::WriteTable(const std::wstring& path) {
    // What the table shows now: rows that arrive from here on are not written.
    std::vector<ExportColumn> columns;
    for (int i = 0; i < m_list->GetColumnCount(); ++i)
        columns.push_back({m_list->HeaderText(i).ToStdWstring(), m_list->GetColumnWidth(i)});
    ExportRequest request = TableExport(m_core.Table(), path, std::move(columns));
    request.tempFolder = m_exportTempFolder;
    wxBusyCursor busy;
    return WriteWorkbook(request);
}

void CScaleDlg::ShowSaveFailed(const std::wstring& path, const std::wstring& reason) {
    ShowPendingRows();
    ShowText(MSG_OK, MessageText(m_texts, L"Save_Failed", {{L"{file}", path}, {L"{reason}", reason}}));
}

}  // namespace tarvex
