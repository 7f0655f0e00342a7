#pragma once
// A session in a program folder of the test's own, the window's side
// recorded: no display needed.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/support/ProgramFolder.h"
#include "simulator/PseudoTerminal.h"
#include "tests/support/RecordingSessionUi.h"
#include "session/Session.h"
#include "text/TextCodec.h"

namespace tarvex::test {

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override { WriteProgramFolder(dir); }

    CSession& Start(const CPortMap& ports, RowLimits limits = {}) {
        SessionSetup setup;
        PlaceInTestFolder(setup, dir);
        setup.ports = ports;
        setup.limits = limits;
        setup.exportTempFolder = exportTempFolder;
        setup.openKeyboard = openKeyboard;
        session = std::make_unique<CSession>(std::move(setup), ui);
        ui.onTimer = [this](SessionTimer timer) { session->OnTimer(timer); };
        session->Start();
        return *session;
    }
    static CPortMap Ports(std::initializer_list<std::pair<int, const sim::CPseudoTerminal*>> ports) {
        CPortMap map = CPortMap::Empty();
        for (const auto& [n, pty] : ports) map.Set(n, pty->DevicePath());
        return map;
    }
    void Press(int entry) {
        ui.selectedPort = entry;
        session->OnOpenCloseConnection();
    }
    // Readings of 1234.5 kg, as an open link hands them over.
    void AddRows(int count) {
        session->Link().SetConnected(true);
        const uint8_t frame[6] = {0x5F, 0x02, 0x00, 0x30, 0x39, 0x54};
        for (int i = 0; i < count; ++i) session->OnSerialData(frame, 6);
        session->Link().SetConnected(false);
    }
    bool Connected() const { return session->IsConnected(); }
    bool Attempting() const { return session->Connection().AttemptRunning(); }
    int Rows() const { return session->Core().Table().RowCount(); }

    TempDir dir;
    std::string exportTempFolder;  // empty: the system's
    std::function<std::unique_ptr<IKeyboard>(KeyboardAbsence&)> openKeyboard;  // empty: the desktop's
    RecordingSessionUi ui;
    std::unique_ptr<CSession> session;
};

}  // namespace tarvex::test
