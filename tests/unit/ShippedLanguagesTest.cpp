#include <gtest/gtest.h>

#include <filesystem>

#include "text/ProfileFile.h"
#include "text/TextCodec.h"

namespace tarvex {
namespace {

// Every section and key the program reads from a language file.
const std::pair<const wchar_t*, std::vector<const wchar_t*>> kVocabulary[] = {
    {L"Language_Configuration", {L"Language_Name"}},
    {L"Dialog_Caption",
     {L"Dialog_Caption", L"Serial_Caption_Open", L"Serial_Caption_Close", L"Save_Excel",
      L"Clear_Data", L"Change_Unit_Caption", L"Serial_Caption_Port", L"Serial_Refresh",
      L"Language_Caption", L"Language_OK", L"Save_Dialog_Title", L"About_Entry", L"Wedge_Caption",
      L"Wedge_No_Desktop", L"Wedge_Wayland", L"Wedge_No_Typing_Support"}},
    {L"ListCtrl_Header",
     {L"Number", L"Data", L"Unit", L"Duration", L"Update_Time", L"Explan", L"Overweight",
      L"Error_EX"}},
    {L"Message",
     {L"Warning", L"Serial_Port_Abnormal", L"No_Port", L"Connection_Fails", L"Auto_Error",
      L"Clear_Data", L"Close_Exe", L"Create_Excel_Falie", L"Data_Warning", L"Data_Error",
      L"CMD_ERROR", L"Port_No_Permission", L"Replace_File", L"Save_Failed", L"Saved_Elsewhere",
      L"Restore_Rows", L"Restore_Rows_One", L"Journal_Failed", L"Journal_Safe_Again", L"Journal_Left_In_Place",
      L"Journal_Rows_Kept_Aside", L"Journal_Rows_Kept_Aside_One", L"File_Unreadable", L"Reason_Too_Large", L"Reason_No_Texts",
      L"Language_Unusable", L"Journal_Damaged_Lines", L"Journal_Damaged_Lines_One", L"Journal_Read_Only",
      L"Journal_Not_A_File", L"Table_Full_Saved", L"Table_Full_Emptied", L"Feed_Bad_Address", L"Feed_Needs_Token",
      L"Feed_Address_Taken", L"Feed_Bad_Separator", L"Feed_Bad_Origin", L"Feed_Needs_Tls", L"Feed_Half_Tls", L"Feed_No_Tls", L"Feed_Bad_Certificate", L"Setting_Too_Long", L"Secret_Readable", L"Secret_Password_File", L"Reason_File_Held", L"Wedge_Bad_Suffix", L"Wedge_Bad_On",
      L"Wedge_Bad_Key", L"Wedge_Key_Taken", L"Database_Bad_Connection", L"Reason_Database_Columns"}},
    {L"Message_Button", {L"Msg_IDYES", L"Msg_IDNO", L"Msg_IDOK"}},
    {L"Status_Line",
     {L"Status_Connected", L"Status_Connecting", L"Status_Not_Connected", L"Status_Watching",
      L"Status_Readings", L"Status_Readings_One", L"Status_Sum", L"Status_Saved", L"Status_Saved_One",
      L"Status_Csv_Failed", L"Status_Csv_Back", L"Status_Database_Failed", L"Status_Database_Back", L"Status_Server_Keeps", L"Status_Typing", L"Status_Typing_On_Key", L"Status_Last_Typed",
      L"Not_Typed_Overweight", L"Not_Typed_Damaged", L"Not_Typed_Own_Window", L"Not_Typed_Nobody",
      L"Not_Typed_Modifier", L"Not_Typed_Refused", L"Not_Typed_None", L"Not_Typed_Already", L"Not_Typed_Dropped",
      L"Not_Typed_Dropped_One"}},
    {L"Live_Page", {L"No_Reading", L"Last_Ten", L"Lost"}},
    {L"Scale",
     {L"Protocol_Frames", L"Protocol_Mt_Sics", L"Protocol_Toledo", L"Protocol_Nci", L"Protocol_Ascii", L"State_Stable",
      L"State_Motion", L"State_Over", L"State_Under", L"State_Fault", L"State_No_Weight", L"State_No_Answer",
      L"Zeroed", L"Tared", L"Zero_Failed", L"Tare_Failed", L"Weigh_Failed", L"Why_Motion", L"Why_Over",
      L"Why_Under", L"Why_No_Weight", L"Setting_Unusable", L"Find_Found", L"Find_None", L"Find_Choose_Port",
      L"Usb_No_Permission_Entry", L"Usb_No_Permission", L"Usb_Find_Not_Needed", L"Usb_Common_Layout"}},
};

TEST(ShippedLanguages, EveryFileCarriesEveryKey) {
    const auto folder = std::filesystem::path(TARVEX_RESOURCES_DIR) / "Language";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        ++files;
        const std::wstring file = WideFromPath(entry.path());
        for (const auto& [section, keys] : kVocabulary)
            for (const wchar_t* key : keys)
                EXPECT_FALSE(ReadProfileText(file, section, key).empty())
                    << entry.path() << " lacks [" << WideFromPath(section) << "] "
                    << WideFromPath(key);
    }
    EXPECT_GE(files, 2);
}

TEST(ShippedLanguages, DefaultSettingNamesEnglish) {
    const auto setting = std::filesystem::path(TARVEX_RESOURCES_DIR) / "Setting.ini";
    const std::wstring file = WideFromPath(setting);
    EXPECT_EQ(ReadProfileText(file, L"Language_Configuration", L"Language_FileName"), L"\\English.ini");
    EXPECT_EQ(ReadProfileText(file, L"Language_Configuration", L"Language_Name"), L"English");
}

}  // namespace
}  // namespace tarvex
