#pragma once
// Typing each weight into the program in front (the keyboard wedge),
// switched by the window's check box and section "Wedge" of "Setting.ini":
// Suffix (Enter, Tab or None: the key after the weight), On (Reading: each
// weight as it arrives; Key: the newest weight when the clerk presses the
// key named in Key, F9 unless told). Only weight rows are typed, each at
// most once, as the Data cell shows it in the unit chosen at that moment.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "outputs/Lifetime.h"
#include "text/TextLookup.h"
#include "outputs/ReadingOutput.h"
#include "outputs/typing/HotKey.h"
#include "outputs/typing/TypingQueue.h"

namespace tarvex {

inline constexpr std::wstring_view SECTION_WEDGE = L"Wedge";
inline constexpr std::wstring_view KEY_WEDGE_ENABLED = L"Enabled";

struct WedgeStart {
    std::function<std::wstring(std::wstring_view key)> setting;  // a key of section "Wedge"
    std::wstring settingFile;                                     // named in the messages
    const CTextLookup& texts;
    std::function<std::vector<RowRecord>(uint64_t seq, size_t most)> readFrom;  // the journal's readings
    std::function<void(std::function<void()>)> post;  // to the window's thread
    std::function<void()> noteChanged;                // on the window's thread: StatusNote() changed
    // The desktop's keyboard; tests give their own.
    std::function<std::unique_ptr<IKeyboard>(KeyboardAbsence&)> openKeyboard = OpenDesktopKeyboard;
};

class CWedgeOutput : public IReadingOutput {
public:
    CWedgeOutput() = default;
    ~CWedgeOutput() override;
    CWedgeOutput(const CWedgeOutput&) = delete;
    CWedgeOutput& operator=(const CWedgeOutput&) = delete;

    // Reads the settings and switches typing on if they say so; the
    // messages to tell, in words.
    std::vector<std::wstring> Start(const WedgeStart& start);
    // Whether the check box may be ticked; why not, in words.
    bool Available() const { return !m_absence.has_value(); }
    std::wstring WhyUnavailable() const;
    bool Enabled() const { return m_queue != nullptr; }
    // The check box; the message to tell (the key cannot be watched), if any.
    std::wstring Enable(bool on);
    // For the status line: that typing is on and how the last weight went.
    std::wstring StatusNote() const;

    void ReadingAdded(const AddedReading& reading) override;
    void RowsCleared(const ClearedRows&) override {}
    void LinkStateChanged(bool) override {}
    void ReadingsHeldBack(uint64_t seq) override;
    void DeskStateChanged(const DeskState& state) override { m_unit = state.unit; }

private:
    struct Newest {
        RowKind kind = RowKind::Weight;
        double kilograms = 0;
        bool typed = false;
    };
    void Arrived(RowKind kind, double kilograms);
    void KeyPressed();  // on the window's thread
    void Offer(Newest& reading);
    void Told(const TypingReport& report);  // on the window's thread
    void Note(std::wstring_view key, std::wstring detail = {});

    const CTextLookup* m_texts = nullptr;
    std::function<std::vector<RowRecord>(uint64_t, size_t)> m_readFrom;
    std::function<void(std::function<void()>)> m_post;
    std::function<void()> m_noteChanged;
    std::function<std::unique_ptr<IKeyboard>(KeyboardAbsence&)> m_openKeyboard;
    std::optional<KeyboardAbsence> m_absence;
    TypedKey m_suffix = TypedKey::Enter;
    std::optional<int> m_functionKey;  // typing waits for this key (On=Key)
    bool m_onKey = false;
    int m_unit = 0;
    std::optional<Newest> m_newest;  // On=Key: what the key types
    // The last word on typing: the key of the text, with the weight or count.
    std::wstring m_noteKey;
    std::wstring m_noteDetail;
    size_t m_dropped = 0;
    std::unique_ptr<CTypingQueue> m_queue;  // while typing is on
    std::unique_ptr<CHotKey> m_hotKey;      // while typing is on and waits for the key
    CLifetime m_lifetime;
};

}  // namespace tarvex
