// Every message box of the program, one after another, in the language of the
// file given, with the longest values a clerk's machine may put in them (a
// deep home folder, a long reason), then the About box. The end-to-end test
// answers each with a real key and checks that each shows its words whole on
// small and large screens. The texts come from the functions the window uses.
//
//   tarvex-box-gallery LANGUAGE_FILE     (with TARVEX_UI_PROBE set)

#include <wx/app.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/AboutDlg.h"
#include "text/BoxTexts.h"
#include "app/MyMsg.h"
#include "serial/SerialPlatform.h"
#include "serial/SerialPort.h"
#include "app/UiProbe.h"

namespace tarvex {
namespace {

struct GalleryBox {
    int kind;
    std::wstring text;
    std::wstring caption;  // empty: the language file's
};

std::vector<GalleryBox> EveryBox(const CTextLookup& texts) {
    const std::wstring home = L"/home/a-rather-long-folder-name-for-the-home-of-a-packing-desk-clerk";
    const std::wstring folder = home + L"/.local/share/tarvex-scale";
    const std::wstring keptAside = folder + L"/journal-kept-2026-12-07-211924.txt";
    const std::wstring workbook = home + L"/Documents/Tarvex Scale/20261207211924.xls";
    const std::wstring languageFile = home + L"/tarvex-scale/Language/Chinese.ini";
    const std::wstring first = L"21:19:24 12/07/2026";
    const std::wstring last = L"06:02:11 12/08/2026";
    const std::wstring noSpace = L"No space left on device";
    return {
        {MSG_OK, MessageText(texts, L"Serial_Port_Abnormal"), {}},
        {MSG_OK, MessageText(texts, L"No_Port"), {}},
        {MSG_OK, MessageText(texts, L"Port_No_Permission", {{L"{device}", L"/dev/ttyUSB0"}, {L"{group}", L"dialout"}}), {}},
        {MSG_OK, MessageText(texts, L"Connection_Fails"), {}},
        {MSG_OK, MessageText(texts, L"Auto_Error"), {}},
        {MSG_OK, PortErrorText(platform::READ_STEP, DEVICE_GONE, 1), PORT_ERROR_CAPTION},
        {MSG_YESNO, MessageText(texts, L"Clear_Data"), {}},
        {MSG_YESNO, MessageText(texts, L"Close_Exe"), {}},
        {MSG_OK, MessageText(texts, L"Create_Excel_Falie"), {}},
        {MSG_YESNO, MessageText(texts, L"Replace_File", {{L"{file}", workbook}}), {}},
        {MSG_OK, MessageText(texts, L"Save_Failed", {{L"{file}", workbook}, {L"{reason}", noSpace}}), {}},
        {MSG_OK, MessageText(texts, L"Data_Warning"), {}},
        {MSG_OK, MessageText(texts, L"Data_Error"), {}},
        {MSG_OK, FullTableSavedText(texts, workbook, false), {}},
        {MSG_OK, FullTableSavedText(texts, workbook, true), {}},
        {MSG_YESNO, RestoreQuestion(texts, 64999, first, last, folder), {}},
        {MSG_YESNO, RestoreQuestion(texts, 1, first, first, folder), {}},
        {MSG_OK, MessageText(texts, L"Journal_Failed", {{L"{folder}", folder}, {L"{reason}", noSpace}}), {}},
        {MSG_OK, MessageText(texts, L"Journal_Safe_Again", {{L"{folder}", folder}}), {}},
        {MSG_OK,
         MessageText(texts, L"Journal_Left_In_Place",
                     {{L"{reason}", L"Permission denied"}, {L"{file}", folder + L"/journal.txt"}}),
         {}},
        {MSG_YESNO,
         RestoreQuestion(texts, 64999, first, last, folder) + L"\n\n" +
             DamagedLinesText(texts, 2, folder + L"/journal-damaged-2026-12-07-211924.txt"),
         {}},
        {MSG_OK, DamagedLinesText(texts, 1, folder + L"/journal-damaged-2026-12-07-211924.txt"), {}},
        {MSG_OK,
         MessageText(texts, L"Journal_Read_Only",
                     {{L"{file}", folder + L"/journal.txt"}, {L"{reason}", L"Read-only file system"}}),
         {}},
        {MSG_OK, MessageText(texts, L"Journal_Not_A_File", {{L"{file}", folder + L"/journal.txt"}}), {}},
        {MSG_OK, RowsKeptAsideText(texts, 2385001, keptAside), {}},
        {MSG_OK, RowsKeptAsideText(texts, 1, keptAside), {}},
        {MSG_OK,
         MessageText(texts, L"File_Unreadable",
                     {{L"{file}", languageFile}, {L"{reason}", MessageText(texts, L"Reason_No_Texts")}}),
         {}},
        {MSG_OK,
         MessageText(texts, L"File_Unreadable",
                     {{L"{file}", languageFile}, {L"{reason}", MessageText(texts, L"Reason_Too_Large")}}),
         {}},
    };
}

class CBoxGalleryApp : public wxApp {
public:
    bool OnInit() override {
        if (argc != 2) {
            std::fputs("usage: tarvex-box-gallery LANGUAGE_FILE\n", stderr);
            return false;
        }
        m_languageFile = argv[1].ToStdWstring();
        m_probe.StartIfAsked();
        return true;
    }

    int OnRun() override {
        CTextLookup texts;
        texts.SetLanguageFile(m_languageFile);
        const std::vector<GalleryBox> boxes = EveryBox(texts);
        // The test knows from this how many boxes to answer.
        std::printf("boxes: %zu\n", boxes.size() + 1);
        std::fflush(stdout);
        for (const GalleryBox& box : boxes) {
            CMyMsg message;
            message.SetLanguageFile(m_languageFile);
            message.SetMessage(box.kind, box.text, box.caption);
            message.DoModal(nullptr);
        }
        CAboutDlg about(nullptr);
        about.ShowModal();
        return 0;
    }

private:
    std::wstring m_languageFile;
    CUiProbe m_probe;
};

}  // namespace
}  // namespace tarvex

wxIMPLEMENT_APP(tarvex::CBoxGalleryApp);
