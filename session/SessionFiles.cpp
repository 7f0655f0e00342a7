// The session's files: where the language files and settings are, the
// language chosen, and files that give no texts.
#include "session/Session.h"

#include "files/FileCalls.h"
#include "outputs/DatabaseTarget.h"
#include "session/DeskName.h"
#include "session/UserFolders.h"

#include "text/BoxTexts.h"
#include "text/LanguageSettings.h"
#include "text/ProfileFile.h"
#include "text/TextCodec.h"

namespace tarvex {

void CSession::FindFiles() {
    m_appDir = AppDirOf(m_executablePath);
    m_resourceDir = ResourceDirFor(m_appDir);
    m_settingFile = SettingFileIn(m_resourceDir);
    m_languageSettingFile = tarvex::LanguageSettingFile(m_settingFile, m_userSettingFile);
    m_languageFile = LanguageFileFromSettings(m_resourceDir, m_languageSettingFile);
    m_texts.SetLanguageFile(m_languageFile);
}

void CSession::ApplyTestLimits() {
    // Section "Test" of "Setting.ini" (never in the shipped file) lets the
    // end-to-end tests reach the nearly-full and full table in a few rows.
    const std::wstring warning = SettingText(L"Test", L"Warning_Row");
    const std::wstring full = SettingText(L"Test", L"Full_Row");
    if (warning.empty() && full.empty()) return;
    const auto limit = [](const std::wstring& text, int shipped) {
        const long value = std::wcstol(text.c_str(), nullptr, 10);
        return value > 0 && value <= shipped ? static_cast<int>(value) : shipped;
    };
    m_core.SetRowLimits({limit(warning, TABLE_WARNING_ROW), limit(full, TABLE_FULL_ROW)});
}

const std::wstring& CSession::SettingFileOf(std::wstring_view section, std::wstring_view key) const {
    // The user's own "Setting.ini" first, where it has the key.
    return !m_userSettingFile.empty() && ProfileHasKey(m_userSettingFile, section, key) ? m_userSettingFile
                                                                                        : m_settingFile;
}

void CSession::TellReadableSecrets() {
    struct Secret {
        const wchar_t* section;
        const wchar_t* key;
        bool password;
    };
    for (const Secret secret : {Secret{SECTION_FEED, L"Token", false}, Secret{L"Database", L"Connection", true}}) {
        const std::wstring value = SettingText(secret.section, secret.key);
        if (value.empty()) continue;
        if (secret.password) {
            DatabaseTarget target;
            std::string ignored;
            if (!ParseDatabaseTarget(Utf8FromWide(value), "readings", target, ignored) || target.password.empty())
                continue;
        }
        const std::wstring& file = SettingFileOf(secret.section, secret.key);
        if (!OthersMayRead(PathFromWide(file))) continue;
        std::wstring told = Filled(Text(SECTION_MESSAGE, L"Secret_Readable"),
                                   {{L"{section}", secret.section},
                                    {L"{key}", secret.key},
                                    {L"{file}", file},
                                    {L"{own}", m_userSettingFile.empty() ? m_settingFile : m_userSettingFile}});
        if (secret.password)
            told += L" " + Filled(Text(SECTION_MESSAGE, L"Secret_Password_File"),
                                  {{L"{pgpass}", WideFromPath(DatabasePasswordFile())}});
        m_ui.Tell(told);
    }
}

std::wstring CSession::SettingText(std::wstring_view section, std::wstring_view key) const {
    const std::wstring& file = SettingFileOf(section, key);
    // A setting cut short would mean something else (another address,
    // another token): it is told once and not used.
    if (ProfileTextTooLong(file, section, key)) {
        if (m_toldTooLong.insert(std::wstring(section) + L"\n" + std::wstring(key)).second)
            m_ui.Tell(Filled(Text(SECTION_MESSAGE, L"Setting_Too_Long"),
                             {{L"{section}", std::wstring(section)},
                              {L"{key}", std::wstring(key)},
                              {L"{file}", file},
                              {L"{most}", std::to_wstring(PROFILE_MAX_TEXT)}}));
        return {};
    }
    return ReadProfileText(file, section, key);
}

void CSession::ShowLanguageList() {
    m_languageFiles = ListLanguageEntries(m_resourceDir);
    if (m_languageFiles.empty()) return;
    std::wstring remembered = ReadProfileText(m_languageSettingFile, SECTION_LANGUAGE, KEY_LANGUAGE_NAME);
    std::wstring ignored;
    // Texts of a file that cannot be read are shown in English: the list says so.
    if (CheckTextFile(m_languageFile, SECTION_LANGUAGE, KEY_LANGUAGE_NAME, ignored) != FileTrouble::None)
        remembered = L"English";
    std::vector<std::wstring> names, shown;
    for (const std::wstring& file : m_languageFiles) {
        names.push_back(ReadProfileText(file, SECTION_LANGUAGE, KEY_LANGUAGE_NAME));
        if (CheckTextFile(file, SECTION_LANGUAGE, KEY_LANGUAGE_NAME, ignored) == FileTrouble::None) {
            shown.push_back(names.back());
        } else {
            // Listed all the same, marked, so the clerk sees what is wrong.
            std::wstring marked = Text(SECTION_MESSAGE, L"Language_Unusable");
            ReplaceAll(marked, L"{name}", WideFromPath(PathFromWide(file).filename()));
            shown.push_back(marked);
        }
    }
    m_ui.ShowLanguages(shown, RememberedLanguageLine(names, remembered));
}

void CSession::TellUnreadableFiles() {
    // Once, at start: the first file that gives no texts.
    if (!TellIfUnreadable(m_languageSettingFile, KEY_LANGUAGE_FILE)) TellIfUnreadable(m_languageFile, KEY_LANGUAGE_NAME);
}

bool CSession::TellIfUnreadable(const std::wstring& file, std::wstring_view key) {
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
    m_ui.Tell(MessageText(m_texts, L"File_Unreadable", {{L"{file}", file}, {L"{reason}", reason}}));
    return true;
}

bool CSession::OnConfirmLanguage(int line) {
    if (line < 0 || line >= static_cast<int>(m_languageFiles.size())) return false;
    // A file that gives no texts is not taken: the clerk is told why.
    if (TellIfUnreadable(m_languageFiles[static_cast<size_t>(line)], KEY_LANGUAGE_NAME)) return true;
    m_languageFile = m_languageFiles[static_cast<size_t>(line)];
    // A "Setting.ini" the program may not write hands the choice over to
    // the user's own; nothing is reported, the language changes anyway.
    const std::wstring kept = RememberLanguageWhereWritable(m_languageSettingFile, m_userSettingFile, m_languageFile);
    if (!kept.empty()) m_languageSettingFile = kept;
    m_texts.SetLanguageFile(m_languageFile);
    m_ui.ShowTexts();
    m_core.LanguageChanged();
    m_ui.RowsChanged();
    m_feeds.LanguageChanged(m_texts, m_core.Table().Words().remarkPrefix);
    ShowTypingChoice();  // its tooltip in the new language
    ShowScale();
    m_scaleNote.clear();
    return true;
}

}  // namespace tarvex
