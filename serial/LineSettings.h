#pragma once
// How a serial line is set: baud, data bits, parity and stop bits. The
// frames' scale and most others talk 9600 8N1; Toledo 8217 and NCI scales
// 9600 7E1.

#include <string>

namespace tarvex {

struct LineSettings {
    int baud = 9600;
    int dataBits = 8;
    char parity = 'N';  // 'N', 'E' or 'O'
    int stopBits = 1;
    bool operator==(const LineSettings&) const = default;
};

// "9600 8N1"
inline std::wstring LineSettingsWords(const LineSettings& line) {
    return std::to_wstring(line.baud) + L" " + std::to_wstring(line.dataBits) +
           static_cast<wchar_t>(line.parity) + std::to_wstring(line.stopBits);
}

// What a line that refuses 7 data bits and parity keeps instead: 8 bits
// without parity, each byte's top bit being the scale's parity bit.
inline LineSettings EightBitsOf(const LineSettings& line) { return {line.baud, 8, 'N', line.stopBits}; }

}  // namespace tarvex
