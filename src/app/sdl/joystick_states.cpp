#include "app/sdl/joystick_states.h"

#include <algorithm>
#include <cmath>

namespace app {

JoyStates StatesOf(const JoyReading& reading) {
    JoyStates states;
    states[0] = reading.y < -kAxisDeadZone || (reading.hat & kHatUp);
    states[1] = reading.y > kAxisDeadZone || (reading.hat & kHatDown);
    states[2] = reading.x < -kAxisDeadZone || (reading.hat & kHatLeft);
    states[3] = reading.x > kAxisDeadZone || (reading.hat & kHatRight);
    for (int button = 0; button < 32; ++button)
        states[size_t(4 + button)] = (reading.buttons >> button) & 1;
    return states;
}

int JoltLevel(const kdv::JoltEffect& effect) {
    const double length = std::hypot(double(effect.fx), double(effect.fy));
    const double power = std::clamp(effect.power, 0, 10000) / 10000.0;
    const double level = std::round(length * power * 32767.0 / 10000.0);
    return int(std::clamp(level, 0.0, 32767.0));
}

}  // namespace app
