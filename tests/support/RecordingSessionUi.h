#pragma once
// The window's side of a session, recorded: what it was told to show, and
// answers from a script. Pump plays the window's event loop: work posted
// from any thread and timers that are due run on the test's thread.

#include <array>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "session/SessionUi.h"

namespace tarvex::test {

class RecordingSessionUi : public ISessionUi {
public:
    using Clock = std::chrono::steady_clock;

    int AskYesNo(const std::wstring& text) override {
        questions.push_back(text);
        if (onQuestion) onQuestion(text);  // sees the session as the question finds it
        if (answers.empty()) return ANSWER_CANCEL;
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void ShowNoticeNoWait(const std::wstring& text) override {
        if (onNotice) onNotice(text);
        notices.push_back(text);
    }
    void HideNoticeNoWait() override { ++noticesHidden; }
    void Tell(const std::wstring& text) override {
        told.push_back(text);
        toldAt.push_back(Clock::now());
    }
    void ShowPortReport(const std::wstring& text, const std::wstring&) override { portReports.push_back(text); }
    void HidePortReport() override { ++portReportsHidden; }
    SaveChoice AskSavePath(const std::wstring& initialName, const std::wstring& folder,
                           const std::wstring& extension) override {
        saveDialogs.push_back({initialName, folder});
        saveTypes.push_back(extension);
        if (onSaveDialog) onSaveDialog();  // readings that arrive while it is open
        if (savePaths.empty()) return {};
        const SaveChoice choice = savePaths.front();
        savePaths.pop_front();
        return choice;
    }
    void ShowBusy(bool) override {}
    std::vector<int> ColumnWidths() const override { return {80, 80, 80, 80, 80, 200}; }
    void ShowPorts(const std::vector<std::wstring>& entries) override {
        ports = entries;
        selectedPort = entries.empty() ? -1 : 0;
    }
    int SelectedPortEntry() const override { return selectedPort; }
    int SelectedUnit() const override { return unit; }
    void ShowLanguages(const std::vector<std::wstring>& names, int selected) override {
        languages = names;
        selectedLanguage = selected;
    }
    void ShowTexts() override { ++textsShown; }
    void ShowLinkState(bool connected) override { linkStates.push_back(connected); }
    void ShowStatus() override {}
    void ShowTypingChoice(bool, bool, const std::wstring&) override {}
    void ShowScaleChoice(const std::vector<std::wstring>& names, int selected) override {
        scales = names;
        selectedScale = selected;
    }
    void ShowScaleCommands(bool zero, bool tare, bool weigh) override { scaleCommands = {zero, tare, weigh}; }
    void ShowLiveWeight(const std::wstring& weight, const std::wstring& state) override {
        liveWeights.push_back(weight + L" " + state);
    }
    void RowAdded(int row) override { addedRows.push_back(row); }
    void RowsChanged() override { ++rowsChanged; }
    void Post(std::function<void()> work) override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_posted.push_back(std::move(work));
    }
    bool OnUiThread() const override { return std::this_thread::get_id() == m_thread; }
    void StartTimer(SessionTimer timer, int milliseconds, bool repeat) override {
        m_timers[timer] = {Clock::now() + std::chrono::milliseconds(milliseconds), repeat ? milliseconds : 0};
    }
    void StopTimer(SessionTimer timer) override { m_timers.erase(timer); }

    // Runs posted work and due timers until the condition holds; false when
    // the time ran out first.
    bool PumpUntil(const std::function<bool()>& condition, int timeoutMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!condition()) {
            if (Clock::now() > deadline) return false;
            if (!RunOne()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
    void PumpFor(int milliseconds) { PumpUntil([] { return false; }, milliseconds); }

    std::function<void(SessionTimer)> onTimer;
    std::function<void(const std::wstring&)> onQuestion, onNotice;
    std::function<void()> onSaveDialog;
    std::deque<int> answers;
    std::deque<SaveChoice> savePaths;
    std::vector<std::wstring> questions, notices, told, portReports, ports, languages, scales, liveWeights;
    std::array<bool, 3> scaleCommands{};  // zero, tare, weigh may be pressed
    int selectedScale = -1;
    std::vector<Clock::time_point> toldAt;
    std::vector<std::pair<std::wstring, std::wstring>> saveDialogs;  // initial name, folder
    std::vector<std::wstring> saveTypes;                             // the type it opened with
    std::vector<bool> linkStates;
    std::vector<int> addedRows;
    int portReportsHidden = 0, textsShown = 0, rowsChanged = 0, noticesHidden = 0;
    int selectedPort = -1, selectedLanguage = -1, unit = 0;

private:
    struct Timer {
        Clock::time_point due;
        int period;  // 0: once
    };

    bool RunOne() {
        std::function<void()> work;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (!m_posted.empty()) {
                work = std::move(m_posted.front());
                m_posted.pop_front();
            }
        }
        if (work) {
            work();
            return true;
        }
        for (auto it = m_timers.begin(); it != m_timers.end(); ++it) {
            if (it->second.due > Clock::now()) continue;
            const SessionTimer timer = it->first;
            if (it->second.period > 0)
                it->second.due += std::chrono::milliseconds(it->second.period);
            else
                m_timers.erase(it);
            if (onTimer) onTimer(timer);
            return true;
        }
        return false;
    }

    std::thread::id m_thread = std::this_thread::get_id();
    std::mutex m_lock;
    std::deque<std::function<void()>> m_posted;
    std::map<SessionTimer, Timer> m_timers;
};

}  // namespace tarvex::test
