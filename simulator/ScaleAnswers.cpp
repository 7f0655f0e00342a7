#include "simulator/ScaleAnswers.h"

#include <bitset>
#include <cmath>
#include <cstdio>

namespace tarvex::sim {
namespace {

constexpr double KILOGRAMS_PER_POUND = 0.45359237;

// The weight in the unit with the unit's decimals, at least width wide.
std::string Figure(double kilograms, const std::string& unit, int width) {
    double value = kilograms;
    int decimals = 3;
    if (unit == "lb") value = kilograms / KILOGRAMS_PER_POUND, decimals = 2;
    if (unit == "g") value = kilograms * 1000, decimals = 0;
    char text[64];
    std::snprintf(text, sizeof text, "%*.*f", width, decimals, value);
    return text;
}

char Bits(bool b0, bool b1 = false, bool b2 = false, bool b3 = false, bool b4 = false) {
    return static_cast<char>(b0 | b1 << 1 | b2 << 2 | b3 << 3 | b4 << 4);
}

std::string MtSics(const std::string& command, CPlatter& platter, Clock::time_point now, const std::string& unit,
                   AnswerCounts& counts) {
    const PlatterState state = platter.State(now);
    std::string answer;
    if (command == "SI" || command == "S") {
        ++counts.polls;
        if (state.over) answer = "S +";
        else if (state.under) answer = "S -";
        else if (state.motion && command == "S") answer = "S I";
        else answer = std::string("S ") + (state.motion ? "D " : "S ") + Figure(state.kilograms, unit, 10) + " " + unit;
    } else if (command == "Z") {
        ++counts.zeros;
        answer = platter.Zero(now) ? "Z A" : "Z I";
    } else if (command == "T") {
        ++counts.tares;
        const std::optional<double> tare = platter.Tare(now);
        answer = tare ? "T S " + Figure(*tare, unit, 10) + " " + unit : "T I";
    } else if (command == "I2") {
        answer = "I2 A \"Simulated 30.000 kg\"";
    } else if (command == "I4") {
        answer = "I4 A \"0123456789\"";
    } else {
        ++counts.unknown;
        answer = "ES";
    }
    return answer + "\r\n";
}

std::string ToledoStatus(const PlatterState& s) {
    return std::string("\x02?") + static_cast<char>(0x60 | Bits(s.motion, s.over, s.under, false, s.atZero)) + "\r";
}

std::string Toledo(const std::string& command, CPlatter& platter, Clock::time_point now, const std::string& unit,
                   AnswerCounts& counts) {
    if (command == "W") {
        ++counts.polls;
        const PlatterState state = platter.State(now);
        if (state.motion || state.over || state.under) return ToledoStatus(state);
        std::string figure = Figure(state.kilograms, unit, 6);
        for (char& c : figure)
            if (c == ' ') c = '0';
        return "\x02" + figure + "\r";
    }
    if (command == "Z") ++counts.zeros, platter.Zero(now);
    else if (command == "T") ++counts.tares, platter.Tare(now);
    else ++counts.unknown;
    return ToledoStatus(platter.State(now));
}

std::string NciStatus(const PlatterState& s) {
    return std::string(1, static_cast<char>(0x30 | Bits(s.motion, s.atZero))) +
           static_cast<char>(0x30 | Bits(s.under, s.over));
}

std::string Nci(const std::string& command, CPlatter& platter, Clock::time_point now, const std::string& unit,
                AnswerCounts& counts) {
    if (command == "W") {
        ++counts.polls;
        const PlatterState state = platter.State(now);
        if (state.over || state.under) return "\n" + NciStatus(state) + "\r\x03";
        return "\n" + Figure(state.kilograms, unit, 7) + unit + "\r\n" + NciStatus(state) + "\r\x03";
    }
    if (command == "Z") ++counts.zeros, platter.Zero(now);
    else if (command == "T") ++counts.tares, platter.Tare(now);
    else if (command != "S") return ++counts.unknown, "\n?\r\x03";
    return "\n" + NciStatus(platter.State(now)) + "\r\x03";
}

}  // namespace

std::optional<Protocol> ProtocolNamed(std::string_view name) {
    if (name == "mt-sics") return Protocol::MtSics;
    if (name == "toledo") return Protocol::Toledo;
    if (name == "nci") return Protocol::Nci;
    if (name == "ascii") return Protocol::Ascii;
    return std::nullopt;
}

std::vector<std::string> CCommandCutter::Feed(std::string_view bytes) {
    std::vector<std::string> commands;
    for (const char c : bytes) {
        if (m_protocol == Protocol::Toledo) {
            commands.emplace_back(1, c);
            continue;
        }
        const bool end = m_protocol == Protocol::Nci ? c == '\r' : c == '\n';
        if (!end) {
            if (c != '\r') m_open += c;
            continue;
        }
        commands.push_back(m_open);
        m_open.clear();
    }
    return commands;
}

std::string AnswerTo(Protocol protocol, const std::string& command, CPlatter& platter, Clock::time_point now,
                     const std::string& unit, AnswerCounts& counts) {
    switch (protocol) {
        case Protocol::MtSics: return MtSics(command, platter, now, unit, counts);
        case Protocol::Toledo: return Toledo(command, platter, now, unit, counts);
        case Protocol::Nci: return Nci(command, platter, now, unit, counts);
        case Protocol::Ascii: ++counts.polls; return PrintedLine(platter.State(now), unit);
    }
    return {};
}

std::string PrintedLine(const PlatterState& state, const std::string& unit) {
    if (state.over) return "OL,GS,+  --.---" + unit + "\r\n";
    const std::string figure = Figure(std::fabs(state.kilograms), unit, 8);
    return std::string(state.motion ? "US" : "ST") + ",GS," + (state.kilograms < 0 ? "-" : "+") + figure + unit + "\r\n";
}

std::string WithParityBits(std::string bytes) {
    for (char& c : bytes) {
        const auto low = static_cast<unsigned char>(c & 0x7F);
        c = static_cast<char>(std::bitset<7>(low).count() % 2 ? low | 0x80 : low);
    }
    return bytes;
}

}  // namespace tarvex::sim
