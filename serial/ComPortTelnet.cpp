#include "serial/ComPortTelnet.h"

#include <algorithm>

namespace tarvex {

using namespace telnet;

namespace {

bool Accepted(uint8_t option) { return option == BINARY || option == SUPPRESS_GO_AHEAD || option == COM_PORT_OPTION; }

void Put(std::vector<uint8_t>& out, uint8_t verb, uint8_t option) { out.insert(out.end(), {IAC, verb, option}); }

// One COM-PORT-OPTION command, its value bytes escaped.
void PutCommand(std::vector<uint8_t>& out, uint8_t command, std::initializer_list<uint8_t> value) {
    out.insert(out.end(), {IAC, SB, COM_PORT_OPTION, command});
    for (const uint8_t b : value) {
        out.push_back(b);
        if (b == IAC) out.push_back(IAC);
    }
    out.insert(out.end(), {IAC, SE});
}

}  // namespace

std::vector<uint8_t> CComPortTelnet::Opening() {
    std::vector<uint8_t> out;
    for (const uint8_t option : {BINARY, SUPPRESS_GO_AHEAD, COM_PORT_OPTION}) {
        Put(out, WILL, option);
        m_oursAsked[option] = true;
    }
    for (const uint8_t option : {BINARY, SUPPRESS_GO_AHEAD}) {
        Put(out, DO, option);
        m_theirsAsked[option] = true;
    }
    return out;
}

namespace {

uint8_t ParityValue(char parity) {
    return parity == 'E' ? VALUE_PARITY_EVEN : parity == 'O' ? VALUE_PARITY_ODD : VALUE_PARITY_NONE;
}

}  // namespace

void CComPortTelnet::AppendSettings(std::vector<uint8_t>& out) const {
    const auto baud = static_cast<uint32_t>(m_asked.baud);  // network byte order
    PutCommand(out, SET_BAUDRATE, {static_cast<uint8_t>(baud >> 24), static_cast<uint8_t>(baud >> 16),
                                   static_cast<uint8_t>(baud >> 8), static_cast<uint8_t>(baud)});
    PutCommand(out, SET_DATASIZE, {static_cast<uint8_t>(m_asked.dataBits)});
    PutCommand(out, SET_PARITY, {ParityValue(m_asked.parity)});
    PutCommand(out, SET_STOPSIZE, {static_cast<uint8_t>(m_asked.stopBits)});
    PutCommand(out, SET_CONTROL, {VALUE_NO_FLOW_CONTROL});
    PutCommand(out, SET_CONTROL, {VALUE_RTS_ON});
}

std::vector<uint8_t> CComPortTelnet::Purge() {
    std::vector<uint8_t> out;
    PutCommand(out, PURGE_DATA, {PURGE_BOTH});
    return out;
}

void CComPortTelnet::Escape(const uint8_t* bytes, size_t count, std::vector<uint8_t>& wire) {
    for (size_t i = 0; i < count; ++i) {
        wire.push_back(bytes[i]);
        if (bytes[i] == IAC) wire.push_back(IAC);
    }
}

void CComPortTelnet::Receive(const uint8_t* bytes, size_t count, std::vector<uint8_t>& data,
                             std::vector<uint8_t>& replies) {
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        switch (m_state) {
            case State::Data:
                if (b == IAC)
                    m_state = State::Command;
                else
                    data.push_back(b);
                break;
            case State::Command:
                if (b == IAC) {
                    data.push_back(IAC);  // a doubled 0xFF is one data byte
                    m_state = State::Data;
                } else if (b == WILL || b == WONT || b == DO || b == DONT) {
                    m_verb = b;
                    m_state = State::Option;
                } else if (b == SB) {
                    m_sub.clear();
                    m_subBytes = 0;
                    m_state = State::Sub;
                } else {
                    m_state = State::Data;  // NOP, GA, a break and the like: nothing for the scale
                }
                break;
            case State::Option:
                Negotiate(m_verb, b, replies);
                m_state = State::Data;
                break;
            case State::Sub:
                if (++m_subBytes > MAX_SUBNEGOTIATION) {
                    m_endless = true;
                    return;
                }
                if (b == IAC)
                    m_state = State::SubCommand;
                else if (m_sub.size() < 64)  // longer is no answer of ours; its end is still found
                    m_sub.push_back(b);
                break;
            case State::SubCommand:
                if (b == SE) {
                    SubnegotiationEnded();
                    m_state = State::Data;
                } else {
                    if (b == IAC && m_sub.size() < 64) m_sub.push_back(IAC);
                    m_state = State::Sub;
                }
                break;
        }
    }
}

void CComPortTelnet::Negotiate(uint8_t verb, uint8_t option, std::vector<uint8_t>& replies) {
    const bool about_ours = verb == DO || verb == DONT;
    const bool yes = verb == DO || verb == WILL;
    bool& on = about_ours ? m_oursOn[option] : m_theirsOn[option];
    bool& asked = about_ours ? m_oursAsked[option] : m_theirsAsked[option];
    if (yes && !Accepted(option)) {
        // Unknown options are refused; a refusal is never answered.
        Put(replies, about_ours ? WONT : DONT, option);
        return;
    }
    if (yes != on) {
        // A change the server starts is confirmed; an answer to our own
        // request is not answered again (RFC 854's loop rule).
        if (!asked) Put(replies, about_ours ? (yes ? WILL : WONT) : (yes ? DO : DONT), option);
        on = yes;
    }
    asked = false;
    if (option == COM_PORT_OPTION && about_ours) {
        if (yes && !m_settled) AppendSettings(replies);
        m_settled = true;
    }
}

void CComPortTelnet::SubnegotiationEnded() {
    if (m_sub.size() < 3 || m_sub[0] != COM_PORT_OPTION) return;
    const uint8_t command = m_sub[1];
    const std::vector<uint8_t> value(m_sub.begin() + 2, m_sub.end());
    // Notifications (line and modem state, flow suspended) need no answer.
    switch (command) {
        case SERVER_ANSWER + SET_BAUDRATE:
            if (value.size() == 4) {
                const uint32_t baud = (uint32_t{value[0]} << 24) | (uint32_t{value[1]} << 16) |
                                      (uint32_t{value[2]} << 8) | value[3];
                if (baud != static_cast<uint32_t>(m_asked.baud)) Differ("baud", std::to_wstring(baud) + L" baud");
            }
            break;
        case SERVER_ANSWER + SET_DATASIZE:
            if (value[0] != m_asked.dataBits) Differ("data", std::to_wstring(value[0]) + L" data bits");
            break;
        case SERVER_ANSWER + SET_PARITY: {
            static const wchar_t* const names[] = {L"", L"none", L"odd", L"even", L"mark", L"space"};
            if (value[0] != ParityValue(m_asked.parity))
                Differ("parity", L"parity " + (value[0] < 6 ? std::wstring(names[value[0]]) : std::to_wstring(value[0])));
            break;
        }
        case SERVER_ANSWER + SET_STOPSIZE:
            if (value[0] != m_asked.stopBits) Differ("stop", value[0] == 2 ? L"2 stop bits" : value[0] == 3 ? L"1.5 stop bits" : L"stop bits " + std::to_wstring(value[0]));
            break;
        case SERVER_ANSWER + SET_CONTROL:
            if (value[0] == 2) Differ("flow", L"XON/XOFF flow control");
            if (value[0] == 3) Differ("flow", L"hardware flow control");
            if (value[0] == VALUE_RTS_OFF) Differ("rts", L"RTS off");
            break;
        default:
            break;
    }
}

namespace {

// Puts the words in the setting's slot; false when they were there already.
bool PutInSlot(std::vector<std::pair<std::string, std::wstring>>& slots, const char* setting, const std::wstring& words) {
    const auto slot = std::find_if(slots.begin(), slots.end(), [&](const auto& s) { return s.first == setting; });
    if (slot == slots.end()) {
        slots.emplace_back(setting, words);
        return true;
    }
    if (slot->second == words) return false;
    slot->second = words;
    return true;
}

}  // namespace

void CComPortTelnet::Differ(const char* setting, std::wstring words) {
    if (PutInSlot(m_told, setting, words)) PutInSlot(m_untold, setting, words);
}

std::wstring CComPortTelnet::TakeDifferences() {
    std::wstring words;
    for (const auto& [setting, told] : m_untold) words += (words.empty() ? L"" : L", ") + told;
    m_untold.clear();
    return words;
}

}  // namespace tarvex
