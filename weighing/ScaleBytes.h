#pragma once
// The bytes of the scale's protocol: what the program sends and how the
// scale's frames begin.

#include <cstdint>

namespace tarvex {

// Commands to the scale.
constexpr uint8_t CMD_HANDSHAKE = 0x5A;
constexpr uint8_t CMD_ACK = 0x9F;
constexpr uint8_t CMD_REPEAT = 0xF9;
constexpr uint8_t CMD_STOP = 0x3A;

// First bytes of what the scale sends.
constexpr uint8_t FRAME_WEIGHT = 0x5F;
constexpr uint8_t FRAME_OVERWEIGHT = 0x3F;
constexpr uint8_t FRAME_HANDSHAKE_REPLY = 0xA5;

}  // namespace tarvex
