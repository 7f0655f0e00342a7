// The scale's protocol and, for scales other than the frames', the live
// weight, the rows the take rule chooses and the clerk's commands.
#include "session/Session.h"

#include <algorithm>
#include <chrono>

#include "serial/SerialPlatform.h"
#include "text/BoxTexts.h"
#include "text/LanguageSettings.h"
#include "text/ProfileFile.h"
#include "text/TextCodec.h"

namespace tarvex {
namespace {

constexpr std::wstring_view SECTION_SCALE_TEXTS = L"Scale";

// The list's names, in the order of ScaleProtocolKind.
constexpr std::wstring_view PROTOCOL_KEYS[] = {L"Protocol_Frames", L"Protocol_Mt_Sics", L"Protocol_Toledo",
                                               L"Protocol_Nci", L"Protocol_Ascii"};

std::wstring_view WhyKey(KeyOutcome why) {
    switch (why) {
        case KeyOutcome::InMotion: return L"Why_Motion";
        case KeyOutcome::OverCapacity: return L"Why_Over";
        case KeyOutcome::UnderZero: return L"Why_Under";
        case KeyOutcome::NoWeight: break;
    }
    return L"Why_No_Weight";
}

// Listening first; then questions no other protocol's scale acts on: "I4"
// is nothing to a Toledo or NCI scale, "W" asks any of them for its weight;
// the frames' 0x5A ("Z", zero, to a Toledo scale) only once no Toledo
// scale answered "W".
constexpr ScaleProtocolKind FIND_ORDER[] = {ScaleProtocolKind::Ascii, ScaleProtocolKind::MtSics,
                                            ScaleProtocolKind::Nci, ScaleProtocolKind::Toledo,
                                            ScaleProtocolKind::Frames};

}  // namespace

int64_t ScaleClockMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void CSession::ReadScaleChoice() {
    const ScaleSettingsRead read =
        ReadScaleSettings([this](std::wstring_view key) { return SettingText(SECTION_SCALE, key); });
    m_scaleSettings = read.settings;
    for (const ScaleSettingProblem& problem : read.problems)
        m_ui.Tell(Filled(Text(SECTION_SCALE_TEXTS, L"Setting_Unusable"),
                         {{L"{key}", problem.key}, {L"{value}", problem.value}, {L"{why}", problem.why}}));
    UseScale();
}

void CSession::UseScale() {
    m_liveScale.reset();
    if (std::unique_ptr<IScaleProtocol> protocol = MakeScaleProtocol(m_scaleSettings)) {
        const ScaleGreeting greeting{protocol->Command(ScaleCommand::Confirm), {}};
        m_liveScale = std::make_unique<CLiveScale>(std::move(protocol), m_scaleSettings.take, m_scaleSettings.settleMs);
        m_connection.SetGreeting(greeting);
    } else {
        m_connection.SetGreeting(FramesGreeting());
    }
    m_serial.SetLineSettings(LineFor(m_scaleSettings));
    m_serial.SetPurgeBeforeWrite(!m_liveScale);
    ShowScale();
}

void CSession::UseUsbScale(const HidScaleDevice& scale) {
    m_liveScale = std::make_unique<CLiveScale>(MakeHidScaleProtocol(scale.layout), m_scaleSettings.take,
                                               m_scaleSettings.settleMs);
    m_connection.SetGreeting({});
    m_scaleNote = scale.layout.common ? Text(SECTION_SCALE_TEXTS, L"Usb_Common_Layout") : L"";
}

const HidScaleDevice* CSession::ChosenUsbScale() const {
    const int entry = m_ui.SelectedPortEntry();
    if (entry < 1 || entry >= PORT_TABLE_SIZE || entry > m_serial.PortTable()[0]) return nullptr;
    return m_serial.HidScale(static_cast<unsigned>(m_serial.PortTable()[static_cast<size_t>(entry)]));
}

bool CSession::TellUsbScaleRefused() {
    const HidScaleDevice* scale = ChosenUsbScale();
    if (!scale || scale->openError == 0) return false;
    m_ui.Tell(Filled(Text(SECTION_SCALE_TEXTS, L"Usb_No_Permission"),
                     {{L"{name}", WideFromUtf8(scale->name)},
                      {L"{device}", WideFromUtf8(scale->node)},
                      {L"{reason}", platform::ErrorText(scale->openError)},
                      {L"{rule}", WideFromUtf8(HID_SCALE_UDEV_RULE)}}));
    return true;
}

void CSession::ShowScale() {
    std::vector<std::wstring> names;
    for (const std::wstring_view key : PROTOCOL_KEYS) names.push_back(Text(SECTION_SCALE_TEXTS, key));
    m_ui.ShowScaleChoice(names, static_cast<int>(m_scaleSettings.protocol));
    ShowScaleCommands();
    ShowLiveWeight();
}

void CSession::OnScaleChosen(int index) {
    if (index < 0 || index >= static_cast<int>(std::size(PROTOCOL_KEYS))) return;
    // Another protocol's bytes must never reach an open link's scale.
    if (m_link.IsConnected() || m_connection.AttemptRunning()) return;
    m_scaleSettings.protocol = static_cast<ScaleProtocolKind>(index);
    RememberProtocol();
    m_scaleNote.clear();
    UseScale();
    m_ui.ShowStatus();
}

void CSession::RememberProtocol() {
    const std::wstring name = WideFromUtf8(std::string(ScaleProtocolName(m_scaleSettings.protocol)));
    WriteWhereWritable(m_languageSettingFile, m_userSettingFile, [&name](const std::wstring& file) {
        return WriteProfileText(file, SECTION_SCALE, L"Protocol", name);
    });
}

void CSession::OnFindProtocol() {
    if (m_finding || m_link.IsConnected() || m_connection.AttemptRunning()) return;
    if (m_ui.SelectedPortEntry() < 1) {
        // Never on every port: on one, and only the one the clerk names.
        m_ui.Tell(Text(SECTION_SCALE_TEXTS, L"Find_Choose_Port"));
        return;
    }
    if (ChosenUsbScale()) {
        m_ui.Tell(Text(SECTION_SCALE_TEXTS, L"Usb_Find_Not_Needed"));
        return;
    }
    m_finding = 0;
    m_scaleNote.clear();
    TryNextProtocol();
}

void CSession::TryNextProtocol() {
    if (!m_finding) return;
    if (*m_finding >= std::size(FIND_ORDER)) {
        m_finding.reset();
        ReadScaleChoice();  // the protocol chosen before stays
        const int entry = m_ui.SelectedPortEntry();
        const int port = entry >= 1 && entry < PORT_TABLE_SIZE ? m_serial.PortTable()[static_cast<size_t>(entry)] : 0;
        m_ui.Tell(Filled(Text(SECTION_SCALE_TEXTS, L"Find_None"), {{L"{port}", m_serial.PortLabel(static_cast<unsigned>(port))}}));
        m_ui.ShowStatus();
        return;
    }
    m_scaleSettings.protocol = FIND_ORDER[(*m_finding)++];
    UseScale();
    Apply(m_connection.OnOpenCloseConnection(m_ui.SelectedPortEntry()));
}

void CSession::FoundProtocol() {
    m_finding.reset();
    RememberProtocol();
    m_scaleNote = Filled(Text(SECTION_SCALE_TEXTS, L"Find_Found"),
                         {{L"{protocol}", Text(SECTION_SCALE_TEXTS, PROTOCOL_KEYS[static_cast<size_t>(m_scaleSettings.protocol)])}});
    m_ui.ShowStatus();
}

void CSession::ShowScaleCommands() {
    const bool open = m_liveScale && m_link.IsConnected();
    const auto has = [&](ScaleCommand command) {
        return open && !m_liveScale->Protocol().Command(command).empty();
    };
    m_ui.ShowScaleCommands(has(ScaleCommand::Zero), has(ScaleCommand::Tare),
                           open && m_scaleSettings.take != TakeMode::Settle);
}

void CSession::ShowLiveWeight() {
    if (!m_liveScale) {
        m_ui.ShowLiveWeight({}, {});
        return;
    }
    const std::optional<LiveWeight>& live = m_liveScale->Live();
    if (!m_link.IsConnected() || !live) {
        const std::wstring state = m_link.IsConnected() ? Text(SECTION_SCALE_TEXTS, L"State_No_Answer") : L"";
        m_ui.ShowLiveWeight({}, state);
        const LiveWeightState none{m_core.Desk(), {}, {}, std::nullopt, "no-answer", Text(SECTION_SCALE_TEXTS, L"State_No_Answer")};
        for (IReadingOutput* output : m_outputs) output->LiveWeightChanged(none);
        return;
    }
    const ScaleStatus& s = live->status;
    const auto [key, state] = s.over                ? std::pair{L"State_Over", "over"}
                              : s.under             ? std::pair{L"State_Under", "under"}
                              : s.motion            ? std::pair{L"State_Motion", "motion"}
                              : s.fault             ? std::pair{L"State_Fault", "fault"}
                              : live->digits.empty() ? std::pair{L"State_No_Weight", "no-weight"}
                                                     : std::pair{L"State_Stable", "stable"};
    const std::wstring weight = live->digits.empty() ? L"" : WideFromUtf8(live->digits + " " + live->unit);
    m_ui.ShowLiveWeight(weight, Text(SECTION_SCALE_TEXTS, key));
    LiveWeightState shown{m_core.Desk(), live->digits, live->unit, std::nullopt, state, Text(SECTION_SCALE_TEXTS, key)};
    if (!live->digits.empty()) shown.kilograms = live->kilograms;
    for (IReadingOutput* output : m_outputs) output->LiveWeightChanged(shown);
}

void CSession::OnScaleData(const uint8_t* bytes, int count) {
    const LiveNews news = m_liveScale->Feed(bytes, count, ScaleClockMs());
    if (!m_link.IsConnected()) {
        // Only an answer of the chosen protocol confirms the scale; bytes
        // that are none leave the attempt to its time.
        if (news.confirmed) Apply(m_connection.OnReply(true));
        if (!m_link.IsConnected()) return;
    }
    TakeScaleNews(news);
}

void CSession::TakeScaleNews(const LiveNews& news) {
    if (news.liveChanged) ShowLiveWeight();
    if (news.outcome) {
        const bool zero = news.outcome->command == ScaleCommand::Zero;
        if (news.outcome->done)
            SetScaleNote(zero ? L"Zeroed" : L"Tared");
        else
            SetScaleNote(zero ? L"Zero_Failed" : L"Tare_Failed", Text(SECTION_SCALE_TEXTS, WhyKey(news.outcome->why)));
    }
    if (news.weighFailed) SetScaleNote(L"Weigh_Failed", Text(SECTION_SCALE_TEXTS, WhyKey(*news.weighFailed)));
    for (const LiveWeight& weight : news.taken) {
        if (!m_link.IsConnected()) break;  // a full table ended the link
        const FrameVerdict verdict = m_core.TakeScaleWeight(weight.digits, weight.unit, weight.kilograms);
        ReadingAdded(verdict.row);
        if (verdict.nearlyFull) m_ui.ShowNoticeNoWait(Text(SECTION_MESSAGE, L"Data_Warning"));
        if (verdict.tableFull) HandleTableFull();
    }
    // A weight settling between answers becomes its row when due, not at the next poll.
    const std::optional<int64_t> due = m_link.IsConnected() ? m_liveScale->SettleDue() : std::nullopt;
    if (due)
        m_ui.StartTimer(SessionTimer::Settle, static_cast<int>(std::max<int64_t>(*due - ScaleClockMs(), 1)), false);
    else
        m_ui.StopTimer(SessionTimer::Settle);
}

void CSession::SetScaleNote(std::wstring_view key, std::wstring_view why) {
    m_scaleNote = Filled(Text(SECTION_SCALE_TEXTS, key), {{L"{why}", std::wstring(why)}});
    m_ui.ShowStatus();
}

void CSession::SendScaleCommand(ScaleCommand command) {
    if (!m_liveScale || !m_link.IsConnected()) return;
    const std::string bytes = m_liveScale->Send(command, ScaleClockMs());
    if (!bytes.empty()) SendBytes(bytes);
}

void CSession::OnWeigh() {
    if (!m_liveScale || !m_link.IsConnected()) return;
    m_scaleNote.clear();
    TakeScaleNews(m_liveScale->Weigh(ScaleClockMs()));
    m_ui.ShowStatus();
}

}  // namespace tarvex
