#pragma once
// The 36 joystick states of the game from what a device reports, without SDL: 0 stick up,
// 1 down, 2 left, 3 right, 4..35 buttons 1..32.
#include <bitset>
#include <cstdint>

#include "core/platform/services.h"

namespace app {

constexpr int kJoyStates = 36;
using JoyStates = std::bitset<kJoyStates>;

// 5 % of the axis range: a stick nearer the centre than this counts as centred.
constexpr int kAxisDeadZone = 1638;

// Hat bits, the same values as SDL's.
constexpr uint8_t kHatUp = 1, kHatRight = 2, kHatDown = 4, kHatLeft = 8;

struct JoyReading {
    int x = 0, y = 0;      // the first stick, -32768..32767, y growing downwards
    uint8_t hat = 0;       // the first hat
    uint32_t buttons = 0;  // bit n: button n + 1
};

JoyStates StatesOf(const JoyReading& reading);

// The constant force of a jolt, 0..32767: the length of its force vector, where 10000 is full
// force, scaled by its power (10000 full).
int JoltLevel(const kdv::JoltEffect& effect);

}  // namespace app
