// Languages: locating "Setting.ini" and the language file, the window's
// texts, the language list and its confirm button.

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/msgdlg.h>
#include <wx/stdpaths.h>

#include "BoxTexts.h"
#include "ControlIds.h"
#include "LanguageSettings.h"
#include "ProfileFile.h"
#include "ScaleDlg.h"
#include "TableListCtrl.h"
#include "TextCodec.h"

namespace tarvex {

void CScaleDlg::InitLanguage() {
    const std::wstring exe = m_executablePath.empty()
                                 ? wxStandardPaths::Get().GetExecutablePath().ToStdWstring()
                                 : m_executablePath;
    m_appDir = AppDirOf(exe);
    m_resourceDir = ResourceDirFor(m_appDir);
    m_settingFile = SettingFileIn(m_resourceDir);
    m_languageSettingFile = LanguageSettingFile(m_settingFile, m_userSettingFile);
    m_languageFile = LanguageFileFromSettings(m_resourceDir, m_languageSettingFile);
    ApplyLanguageTexts();
}

void CScaleDlg::ApplyLanguageTexts() {
    m_texts.SetLanguageFile(m_languageFile);
    SetTitle(Text(SECTION_CAPTION, L"Dialog_Caption"));
    static constexpr std::pair<int, const wchar_t*> kCaptions[] = {
        {IDC_OPEN_CLOSE, L"Serial_Caption_Open"}, {IDC_SAVE, L"Save_Excel"},
        {IDC_CLEAR, L"Clear_Data"},               {IDC_UNIT_GROUP, L"Change_Unit_Caption"},
        {IDC_PORT_GROUP, L"Serial_Caption_Port"}, {IDC_REFRESH, L"Serial_Refresh"},
        {IDC_LANGUAGE_GROUP, L"Language_Caption"}, {IDC_CONFIRM_LANGUAGE, L"Language_OK"},
    };
    for (const auto& [id, key] : kCaptions) FindWindow(id)->SetLabel(Text(SECTION_CAPTION, key));
    m_msgBox.SetLanguageFile(m_languageFile);
    UpdateStatus();  // the status line speaks the new language at once
}

void CScaleDlg::TellUnreadableFiles() {
    // Once, at start: the first file that gives no texts.
    if (!TellIfUnreadable(m_languageSettingFile, KEY_LANGUAGE_FILE)) TellIfUnreadable(m_languageFile, KEY_LANGUAGE_NAME);
}

bool CScaleDlg::TellIfUnreadable(const std::wstring& file, std::wstring_view key) {
    std::wstring reason;
    switch (CheckTextFile(file, SECTION_LANGUAGE, key, reason)) {
        case FileTrouble::None:
            return false;
        case FileTrouble::CannotOpen:
            break;
        case FileTrouble::TooLarge:
            reason = Text(SECTION_MESSAGE, L"Reason_Too_Large");
            break;
        case FileTrouble::NoTexts:
            reason = Text(SECTION_MESSAGE, L"Reason_No_Texts");
            break;
    }
    ShowText(MSG_OK, MessageText(m_texts, L"File_Unreadable", {{L"{file}", file}, {L"{reason}", reason}}));
    return true;
}

void CScaleDlg::FillLanguageList() {
    m_languageFiles = ListLanguageEntries(m_resourceDir);
    if (m_languageFiles.empty()) return;
    std::wstring remembered = ReadProfileText(m_languageSettingFile, SECTION_LANGUAGE, KEY_LANGUAGE_NAME);
    std::wstring ignored;
    // Texts of a file that cannot be read are shown in English: the list says so.
    if (CheckTextFile(m_languageFile, SECTION_LANGUAGE, KEY_LANGUAGE_NAME, ignored) != FileTrouble::None)
        remembered = L"English";
    std::vector<std::wstring> names;
    for (const std::wstring& file : m_languageFiles) {
        names.push_back(ReadProfileText(file, SECTION_LANGUAGE, KEY_LANGUAGE_NAME));
        if (CheckTextFile(file, SECTION_LANGUAGE, KEY_LANGUAGE_NAME, ignored) == FileTrouble::None) {
            m_languageCombo->Append(names.back());
        } else {
            // Listed all the same, marked, so the clerk sees what is wrong.
            std::wstring marked = Text(SECTION_MESSAGE, L"Language_Unusable");
            ReplaceAll(marked, L"{name}", WideFromPath(PathFromWide(file).filename()));
            m_languageCombo->Append(marked);
        }
    }
    m_languageCombo->SetSelection(RememberedLanguageLine(names, remembered));
}

void CScaleDlg::OnConfirmLanguage(wxCommandEvent&) {
    const int line = m_languageCombo->GetSelection();
    if (line < 0 || line >= static_cast<int>(m_languageFiles.size())) {
        // No line to confirm: the framework's own error, nothing changes.
        wxMessageBox(L"Encountered an improper argument.", L"Tarvex Scale", wxOK | wxICON_ERROR,
                     this);
        return;
    }
    // A file that gives no texts is not taken: the clerk is told why.
    if (TellIfUnreadable(m_languageFiles[static_cast<size_t>(line)], KEY_LANGUAGE_NAME)) return;
    m_languageFile = m_languageFiles[static_cast<size_t>(line)];
    // A "Setting.ini" the program may not write hands the choice over to
    // the user's own; nothing is reported, the language changes anyway.
    const std::wstring kept = RememberLanguageWhereWritable(m_languageSettingFile, m_userSettingFile, m_languageFile);
    if (!kept.empty()) m_languageSettingFile = kept;
    ApplyLanguageTexts();
    for (int i = 0; i < COLUMN_COUNT; ++i)
        m_list->SetHeaderText(i, Text(SECTION_HEADER, TABLE_COLUMNS[static_cast<size_t>(i)].headerKey));
    m_core.LanguageChanged();
}

}  // namespace tarvex
