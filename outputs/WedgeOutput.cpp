#include "outputs/WedgeOutput.h"

#include <algorithm>
#include <cwctype>

#include "text/BoxTexts.h"
#include "weighing/WeightText.h"

namespace tarvex {
namespace {

constexpr int DEFAULT_FUNCTION_KEY = 9;
// Readings held back while the journal could not keep them are read again
// to find the newest; more than this many are not looked through.
constexpr size_t HELD_BACK_READ = 100000;

bool SameWord(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) { return std::towlower(x) == std::towlower(y); });
}

// The Data cell without its blanks: "  1.2340" is typed "1.2340", "-  2:11.5" "-2:11.5".
std::wstring TypedWeight(double kilograms, int unit) {
    std::wstring text = FormatWeightText(kilograms, unit);
    std::erase(text, L' ');
    return text;
}

}  // namespace

CWedgeOutput::~CWedgeOutput() {
    // The key's thread first: it hands presses to the typing.
    m_hotKey.reset();
    m_queue.reset();
}

std::vector<std::wstring> CWedgeOutput::Start(const WedgeStart& start) {
    m_texts = &start.texts;
    m_readFrom = start.readFrom;
    m_post = start.post;
    m_noteChanged = start.noteChanged;
    m_openKeyboard = start.openKeyboard;
    std::vector<std::wstring> told;
    const auto bad = [&](std::wstring_view key, std::wstring_view messageKey) {
        told.push_back(MessageText(*m_texts, messageKey, {{L"{value}", start.setting(key)}, {L"{file}", start.settingFile}}));
    };
    const std::wstring suffix = start.setting(L"Suffix");
    if (SameWord(suffix, L"Tab"))
        m_suffix = TypedKey::Tab;
    else if (SameWord(suffix, L"None"))
        m_suffix = TypedKey::NoKey;
    else if (!suffix.empty() && !SameWord(suffix, L"Enter"))
        bad(L"Suffix", L"Wedge_Bad_Suffix");
    const std::wstring on = start.setting(L"On");
    if (SameWord(on, L"Key")) {
        m_onKey = true;
        const std::wstring key = start.setting(L"Key");
        m_functionKey = key.empty() ? std::optional<int>(DEFAULT_FUNCTION_KEY) : FunctionKeyNamed(key);
        if (!m_functionKey) bad(L"Key", L"Wedge_Bad_Key");
    } else if (!on.empty() && !SameWord(on, L"Reading")) {
        bad(L"On", L"Wedge_Bad_On");
    }
    KeyboardAbsence absence{};
    if (!m_openKeyboard || !m_openKeyboard(absence)) m_absence = absence;
    if (start.setting(KEY_WEDGE_ENABLED) == L"1" && Available()) {
        const std::wstring problem = Enable(true);
        if (!problem.empty()) told.push_back(problem);
    }
    return told;
}

std::wstring CWedgeOutput::WhyUnavailable() const {
    if (!m_absence) return {};
    switch (*m_absence) {
        case KeyboardAbsence::NoDesktop: return m_texts->Text(SECTION_CAPTION, L"Wedge_No_Desktop");
        case KeyboardAbsence::Wayland: return m_texts->Text(SECTION_CAPTION, L"Wedge_Wayland");
        case KeyboardAbsence::NoTypingSupport: return m_texts->Text(SECTION_CAPTION, L"Wedge_No_Typing_Support");
    }
    return {};
}

std::wstring CWedgeOutput::Enable(bool on) {
    if (!on) {
        m_hotKey.reset();
        m_queue.reset();
        m_newest.reset();
        m_noteKey.clear();
        m_dropped = 0;
        return {};
    }
    if (m_queue || m_absence) return {};
    KeyboardAbsence absence{};
    std::unique_ptr<IKeyboard> keyboard = m_openKeyboard(absence);
    if (!keyboard) {
        m_absence = absence;
        return {};
    }
    const CLifetime::Token alive = m_lifetime.Watch();
    auto post = m_post;
    m_queue = std::make_unique<CTypingQueue>(std::move(keyboard), [this, alive, post](const TypingReport& report) {
        post([this, alive, report] {
            if (alive.Alive()) Told(report);
        });
    });
    if (!m_onKey || !m_functionKey) return {};
    m_hotKey = std::make_unique<CHotKey>([this, alive, post] {
        post([this, alive] {
            if (alive.Alive()) KeyPressed();
        });
    });
    if (m_hotKey->Watch(*m_functionKey)) return {};
    m_hotKey.reset();
    return MessageText(*m_texts, L"Wedge_Key_Taken", {{L"{key}", L"F" + std::to_wstring(*m_functionKey)}});
}

void CWedgeOutput::ReadingAdded(const AddedReading& reading) {
    if (!Enabled()) return;
    const RowRecord& record = reading.Record();
    Arrived(record.kind, record.kilograms);
}

void CWedgeOutput::ReadingsHeldBack(uint64_t seq) {
    // Only the newest of them is the weighing of now.
    if (!Enabled() || !m_readFrom) return;
    const std::vector<RowRecord> held = m_readFrom(seq, HELD_BACK_READ);
    if (!held.empty()) Arrived(held.back().kind, held.back().kilograms);
}

void CWedgeOutput::Arrived(RowKind kind, double kilograms) {
    Newest reading{kind, kilograms, false};
    if (m_onKey) {
        m_newest = reading;
        return;
    }
    Offer(reading);
}

void CWedgeOutput::KeyPressed() {
    if (!Enabled()) return;
    if (!m_newest)
        Note(L"Not_Typed_None");
    else if (m_newest->typed)
        Note(L"Not_Typed_Already");
    else
        Offer(*m_newest);
}

void CWedgeOutput::Offer(Newest& reading) {
    if (reading.kind == RowKind::Overweight) {
        Note(L"Not_Typed_Overweight");
        return;
    }
    if (reading.kind != RowKind::Weight) {
        Note(L"Not_Typed_Damaged");
        return;
    }
    const std::wstring shown = TypedWeight(reading.kilograms, m_unit);
    m_queue->Add({std::u32string(shown.begin(), shown.end()), m_suffix, shown});
    reading.typed = true;
}

void CWedgeOutput::Told(const TypingReport& report) {
    if (!Enabled()) return;
    switch (report.outcome) {
        case TypingOutcome::Typed: Note(L"Status_Last_Typed", report.shown); break;
        case TypingOutcome::OwnWindow: Note(L"Not_Typed_Own_Window"); break;
        case TypingOutcome::Nobody: Note(L"Not_Typed_Nobody"); break;
        case TypingOutcome::ModifiersHeld: Note(L"Not_Typed_Modifier"); break;
        case TypingOutcome::Refused: Note(L"Not_Typed_Refused"); break;
        case TypingOutcome::Dropped:
            m_dropped += report.dropped;
            if (m_noteChanged) m_noteChanged();
            break;
    }
}

void CWedgeOutput::Note(std::wstring_view key, std::wstring detail) {
    m_noteKey = key;
    m_noteDetail = std::move(detail);
    if (m_noteChanged) m_noteChanged();
}

std::wstring CWedgeOutput::StatusNote() const {
    if (!Enabled()) return {};
    std::wstring note = m_onKey ? Filled(m_texts->Text(SECTION_STATUS, L"Status_Typing_On_Key"),
                                         {{L"{key}", m_functionKey ? L"F" + std::to_wstring(*m_functionKey) : L"?"}})
                                : m_texts->Text(SECTION_STATUS, L"Status_Typing");
    if (!m_noteKey.empty()) note += L"    " + Filled(m_texts->Text(SECTION_STATUS, m_noteKey), {{L"{weight}", m_noteDetail}});
    if (m_dropped > 0)
        note += L"    " + m_texts->Counted(SECTION_STATUS, L"Not_Typed_Dropped", static_cast<long long>(m_dropped));
    return note;
}

}  // namespace tarvex
