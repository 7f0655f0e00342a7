#pragma once
// What the session asks of the window: questions and notices in the user's
// words, the lists and the status to show, timers and a later turn on its
// thread. The window shows; tests answer by recording.

#include <functional>
#include <string>
#include <vector>


namespace tarvex {

// Answers of a yes/no question.
constexpr int ANSWER_YES = 6;
constexpr int ANSWER_NO = 7;
constexpr int ANSWER_CANCEL = 2;

class IUserPrompts {
public:
    virtual ~IUserPrompts() = default;
    virtual int AskYesNo(const std::wstring& text) = 0;          // ANSWER_*
    virtual void ShowNoticeNoWait(const std::wstring& text) = 0; // readings keep arriving
    virtual void HideNoticeNoWait() = 0;                         // it no longer holds
};

class ITableView {
public:
    virtual ~ITableView() = default;
    virtual void RowAdded(int row) = 0;  // show it and scroll it into view
    virtual void RowsChanged() = 0;      // rows removed or cells rewritten
};

// What the save dialog gave: the name as typed, and the extension of the
// file type chosen, which a name typed without one gets.
struct SaveChoice {
    SaveChoice(std::wstring typed = {}, std::wstring type = L".xls")
        : path(std::move(typed)), extension(std::move(type)) {}
    std::wstring path;
    std::wstring extension;  // ".xls" or ".xlsx"
};

enum class SessionTimer { Attempt, Watch, Quiet, Scale, Settle };
constexpr int SESSION_TIMERS = 5;

class ISessionUi : public IUserPrompts, public ITableView {
public:
    // A notice the user closes before anything else goes on.
    virtual void Tell(const std::wstring& text) = 0;
    // The driver's report, one at a time, shown without waiting; it goes by
    // itself once the link is back.
    virtual void ShowPortReport(const std::wstring& text, const std::wstring& caption) = 0;
    virtual void HidePortReport() = 0;
    // The save dialog, opened in the folder given with the name and the file
    // type of the extension given; an empty path when the user gave up.
    virtual SaveChoice AskSavePath(const std::wstring& initialName, const std::wstring& folder,
                                   const std::wstring& extension) = 0;
    // A long piece of work (the save) begins or ends.
    virtual void ShowBusy(bool busy) = 0;
    // The table list's column widths in pixels, as the user left them.
    virtual std::vector<int> ColumnWidths() const = 0;

    virtual void ShowPorts(const std::vector<std::wstring>& entries) = 0;  // the first one selected
    virtual int SelectedPortEntry() const = 0;                            // -1 when the list is empty
    virtual int SelectedUnit() const = 0;
    virtual void ShowLanguages(const std::vector<std::wstring>& names, int selected) = 0;
    // The texts changed language: captions, headers and the status anew.
    virtual void ShowTexts() = 0;
    virtual void ShowLinkState(bool connected) = 0;  // the open button's caption and what may be changed
    virtual void ShowStatus() = 0;                   // the session's status line changed
    // The same, for news that comes with every reading: shown with the next
    // redraw, so that it costs none of its own.
    virtual void ShowStatusSoon() { ShowStatus(); }
    // Draws what is due while the session waits a moment (at most half a
    // second) on the window's thread; takes no input.
    virtual void KeepDrawing() {}
    // The check box for typing into the program in front: whether it may be
    // ticked (why not, for its tooltip) and whether it is.
    virtual void ShowTypingChoice(bool available, bool on, const std::wstring& whyNot) = 0;

    // The scale list: the protocols' names and the one chosen.
    virtual void ShowScaleChoice(const std::vector<std::wstring>& names, int selected) = 0;
    // Which of the scale's commands may be pressed now.
    virtual void ShowScaleCommands(bool zero, bool tare, bool weigh) = 0;
    // The newest live weight as the scale said it ("1.500 kg") and its state
    // ("stable"); the weight is empty when the scale gives none.
    virtual void ShowLiveWeight(const std::wstring& weight, const std::wstring& state) = 0;

    // Runs work on the window's thread later; returns at once.
    virtual void Post(std::function<void()> work) = 0;
    virtual bool OnUiThread() const = 0;
    // The session's OnTimer is called once (or every period, repeating).
    virtual void StartTimer(SessionTimer timer, int milliseconds, bool repeat) = 0;
    virtual void StopTimer(SessionTimer timer) = 0;
};

}  // namespace tarvex
