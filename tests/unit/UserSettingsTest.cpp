#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "text/LanguageSettings.h"
#include "text/ProfileFile.h"
#include "tests/support/TempDir.h"
#include "text/TextCodec.h"
#include "text/TextLookup.h"
#include "session/UserFolders.h"

namespace tarvex {
namespace {

using test::TempDir;

struct LanguageFiles {
    LanguageFiles() {
        dir.Write("Language/Chinese.ini", "[Language_Configuration]\nLanguage_Name=简体中文\n");
        language = WideFromPath(dir.Path() / "Language" / "Chinese.ini");
        user = WideFromPath(dir.Path() / "user-config" / "Setting.ini");
    }
    TempDir dir;
    std::wstring language, user;
};

TEST(UserSettings, TheLastSaveFolderIsKeptBesideTheLanguageChoiceWithoutTakingItsPlace) {
    TempDir dir;
    const std::wstring user = WideFromPath(dir.Path() / "config" / "Setting.ini");
    EXPECT_EQ(RememberedSaveFolder(user), L"");
    ASSERT_TRUE(RememberSaveFolder(user, L"/home/clerk/称重"));
    EXPECT_EQ(RememberedSaveFolder(user), L"/home/clerk/称重");
    // A user file holding only the folder does not take over the language choice.
    const std::wstring program = WideFromPath(dir.Write("Setting.ini", "[Language_Configuration]\n"));
    EXPECT_EQ(LanguageSettingFile(program, user), program);
    EXPECT_FALSE(RememberSaveFolder(L"", L"/tmp"));
}

TEST(UserSettings, AWritableProgramFileKeepsTheChoiceAndMakesNoUserFile) {
    LanguageFiles f;
    const std::wstring program = WideFromPath(f.dir.Write("Setting.ini", ""));
    EXPECT_EQ(RememberLanguageWhereWritable(program, f.user, f.language), program);
    EXPECT_EQ(ReadProfileText(program, L"Language_Configuration", L"Language_FileName"), L"\\Chinese.ini");
    EXPECT_FALSE(std::filesystem::exists(PathFromWide(f.user)));
    EXPECT_EQ(LanguageSettingFile(program, f.user), program);
}

TEST(UserSettings, AProgramFileThatCannotBeWrittenHandsOverToTheUsersOwn) {
    LanguageFiles f;
    // Under a plain file nothing can be written, not even by root.
    const std::wstring program = WideFromPath(f.dir.Write("not-a-folder", "x") / "Setting.ini");
    EXPECT_EQ(RememberLanguageWhereWritable(program, f.user, f.language), f.user);
    EXPECT_EQ(ReadProfileText(f.user, L"Language_Configuration", L"Language_Name"), L"简体中文");
    EXPECT_EQ(ReadProfileText(f.user, L"Language_Configuration", L"Language_FileName"), L"\\Chinese.ini");
    // From now on start-up reads the user's file first.
    EXPECT_EQ(LanguageSettingFile(program, f.user), f.user);
    EXPECT_EQ(RememberLanguageWhereWritable(f.user, f.user, f.language), f.user);
    EXPECT_EQ(RememberLanguageWhereWritable(program, L"", f.language), L"");
}

#ifndef _WIN32
// Sets environment variables for one test and puts them back afterwards.
class ScopedEnv {
public:
    void Set(const char* name, const char* value) {
        const char* old = std::getenv(name);
        m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
            if (it->second)
                ::setenv(it->first.c_str(), it->second->c_str(), 1);
            else
                ::unsetenv(it->first.c_str());
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

TEST(LanguageTexts, WhatAFileDoesNotHoldIsTheShippedEnglishWhatItHoldsStays) {
    TempDir dir;
    const std::wstring partial =
        WideFromPath(dir.Write("Partial.ini", "[Message]\nClear_Data=Alles weg?\nWarning=\n[Dialog_Caption\n\xff\xfe"));
    struct Case {
        std::wstring file;
        const wchar_t* section;
        const wchar_t* key;
        const wchar_t* text;
    };
    const std::vector<Case> cases{
        {partial, L"Message", L"Clear_Data", L"Alles weg?"},   // read from the file
        {partial, L"Message", L"Warning", L""},                 // present and empty: the file's choice
        {partial, L"Message_Button", L"Msg_IDYES", L"&Yes"},    // missing key
        {WideFromPath(dir.Path() / "none.ini"), L"Dialog_Caption", L"Serial_Caption_Open", L"&Connect"},
        {WideFromPath(dir.Path()), L"Status_Line", L"Status_Not_Connected", L"Not connected"},  // a folder
        {partial, L"Message", L"No_Such_Key", L""},             // in no file at all
    };
    for (const Case& c : cases) EXPECT_EQ(LanguageText(c.file, c.section, c.key), c.text) << c.key;
}

TEST(UserFolders, FollowTheXdgVariablesAndTheUsersDocumentsFolder) {
    TempDir home;
    const std::string h = home.Path().string();
    ScopedEnv env;
    env.Set("HOME", h.c_str());
    env.Set("XDG_DATA_HOME", nullptr);
    env.Set("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(UserDataFolder(), home.Path() / ".local/share/tarvex-scale");
    EXPECT_EQ(UserSettingsFolder(), home.Path() / ".config/tarvex-scale");
    EXPECT_EQ(UserDocumentsFolder(), home.Path() / "Tarvex Scale");  // as xdg-user-dir: the home folder

    home.Write(".config/user-dirs.dirs", "# written by xdg-user-dirs-update\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
    EXPECT_EQ(UserDocumentsFolder(), home.Path() / "Dokumente" / "Tarvex Scale");

    env.Set("XDG_DATA_HOME", "/srv/data");
    env.Set("XDG_CONFIG_HOME", "relative/is/ignored");
    EXPECT_EQ(UserDataFolder(), std::filesystem::path("/srv/data/tarvex-scale"));
    EXPECT_EQ(UserSettingsFolder(), home.Path() / ".config/tarvex-scale");

    env.Set("HOME", "");
    env.Set("XDG_DATA_HOME", nullptr);
    EXPECT_TRUE(UserDataFolder().empty());
}
#endif

}  // namespace
}  // namespace tarvex
