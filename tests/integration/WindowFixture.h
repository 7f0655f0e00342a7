#pragma once
// A program folder of its own (Setting.ini, Language/ with the shipped
// files) and a real main window over it.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>

#include <wx/app.h>
#include <wx/choice.h>
#include <wx/evtloop.h>

#include "app/ControlIds.h"
#include "tests/integration/ModalScript.h"
#include "tests/support/ProgramFolder.h"
#include "app/ScaleDlg.h"
#include "app/TableListCtrl.h"
#include "tests/support/TempDir.h"
#include "text/TextCodec.h"

namespace tarvex::test {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteProgramFolder(dir);
    }
    void TearDown() override {
        if (dlg) dlg->Destroy();
        dlg = nullptr;
        Flush();
    }

    void WriteSetting(const std::string& text) { dir.Write("Setting.ini", text); }

    // Builds and shows the window; its start-up runs as the program's does.
    // With no port mapped, start-up tells so first; that box is answered.
    CScaleDlg& Open(std::optional<CPortMap> ports = std::nullopt, RowLimits limits = {}) {
        if (dlg) dlg->Destroy();
        bool noPorts = !hasPorts;
        if (ports) {
            noPorts = true;
            for (int n = PORT_FIRST; n <= PORT_LAST; ++n) noPorts = noPorts && ports->Device(n).empty();
        }
        if (noPorts) modal.Answer(IDOK_ANSWER);
        ScaleDlgSetup setup;
        PlaceInTestFolder(setup, dir);
        setup.ports = std::move(ports);
        setup.limits = limits;
        setup.exportTempFolder = exportTempFolder;
        setup.chooseSavePath = chooseSavePath;
        dlg = new CScaleDlg(std::move(setup));
        dlg->Show();
        Flush();
        if (noPorts) {
            EXPECT_EQ(modal.Pending(), 0u) << "start-up did not report the missing ports";
            if (!modal.seen.empty()) modal.seen.pop_back();
        }
        return *dlg;
    }

    static void Flush() {
        for (int i = 0; i < 3; ++i) {
            wxTheApp->ProcessPendingEvents();
            wxTheApp->ProcessIdle();
            if (wxEventLoopBase* loop = wxEventLoopBase::GetActive())
                while (loop->Pending()) loop->Dispatch();
        }
    }

    // Runs the window's events until the condition holds or the time is up.
    static bool PumpUntil(const std::function<bool()>& condition, int timeoutMs) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            wxTheApp->ProcessPendingEvents();
            if (wxEventLoopBase* loop = wxEventLoopBase::GetActive()) loop->DispatchTimeout(5);
        }
        return true;
    }
    static void PumpFor(int milliseconds) {
        PumpUntil([] { return false; }, milliseconds);
    }

    // What the control shows, without its mnemonic mark.
    wxString Label(int id) const { return wxControl::RemoveMnemonics(dlg->FindWindow(id)->GetLabel()); }
    wxChoice* LanguageList() const { return static_cast<wxChoice*>(dlg->FindWindow(IDC_LANGUAGE_COMBO)); }
    int Rows() const { return dlg->Session().Core().Table().RowCount(); }
    // New rows reach the list with the next display frame.
    bool ListCaughtUp() const {
        return PumpUntil([&] { return dlg->List().GetItemCount() == Rows(); }, 500);
    }

    void AddRows(int count) {
        dlg->Session().Link().SetConnected(true);
        const uint8_t frame[6] = {0x5F, 0x02, 0x00, 0x30, 0x39, 0x54};
        for (int i = 0; i < count; ++i) dlg->Session().OnSerialData(frame, 6);
    }

    TempDir dir;
    bool hasPorts = false;  // the test's Setting.ini maps a port
    std::string exportTempFolder;  // empty: the system temp folder
    std::function<std::wstring(const std::wstring&)> chooseSavePath;  // empty: the real dialog
    ModalScript modal;
    CScaleDlg* dlg = nullptr;
};

}  // namespace tarvex::test
