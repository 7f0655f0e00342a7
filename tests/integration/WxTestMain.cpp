// Runs GoogleTest inside an initialised wx application, so tests can build
// real windows on the display that xvfb-run provides.

#include <gtest/gtest.h>

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // A failed wx check fails the test instead of waiting on a dialog.
    wxSetAssertHandler([](const wxString& file, int line, const wxString& func, const wxString& cond,
                          const wxString& msg) {
        ADD_FAILURE_AT(file.utf8_str(), line) << "wx check failed in " << func << ": " << cond << " " << msg;
    });
    wxApp::SetInstance(new wxApp());
    if (!wxEntryStart(argc, argv) || !wxTheApp->CallOnInit()) {
        fprintf(stderr, "wx could not start: is there a display?\n");
        return 1;
    }
    // Tests pump this loop so timers and hand-offs from the reader run.
    wxGUIEventLoop loop;
    wxEventLoopActivator active(&loop);
    const int rc = RUN_ALL_TESTS();
    wxTheApp->OnExit();
    wxEntryCleanup();
    return rc;
}
