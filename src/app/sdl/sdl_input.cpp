#include "app/sdl/sdl_input.h"

#include <SDL.h>

#include <algorithm>

#include "app/sdl/sdl_lock.h"

namespace app {

SdlInput::SdlInput(bool openNow) {
    // There is no SDL window: joystick events must arrive whatever has the focus.
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (openNow) OpenSubsystems();
}

SdlInput::~SdlInput() {
    Settle(true);
    for (Device& device : devices_) Release(device);
    devices_.clear();
    const std::lock_guard<std::mutex> lock(SdlSubsystemLock());
    if (hapticReady_) SDL_QuitSubSystem(SDL_INIT_HAPTIC);
    if (joystickReady_) SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
}

void SdlInput::OpenSubsystems() {
    {
        const std::lock_guard<std::mutex> lock(SdlSubsystemLock());
        joystickReady_ = SDL_InitSubSystem(SDL_INIT_JOYSTICK) == 0;
        if (!joystickReady_) return;
        hapticReady_ = SDL_InitSubSystem(SDL_INIT_HAPTIC) == 0;
    }
    for (int i = 0; i < SDL_NumJoysticks(); ++i) Open(i);
}

void SdlInput::OpenInBackground() {
    if (opening_ || joystickReady_) return;
    opening_ = true;
    opened_ = false;
    opener_ = std::thread([this] {
        OpenSubsystems();
        // SDL keeps this thread's error text until told; the thread ends here.
        SDL_TLSCleanup();
        opened_ = true;
    });
}

void SdlInput::Settle(bool wait) {
    if (!opening_ || !(wait || opened_)) return;
    opener_.join();
    opening_ = false;
}

void SdlInput::Open(int deviceIndex) {
    SDL_Joystick* joystick = SDL_JoystickOpen(deviceIndex);
    if (!joystick) return;
    const int id = SDL_JoystickInstanceID(joystick);
    // Devices present at start are announced again by an "added" event.
    if (std::any_of(devices_.begin(), devices_.end(),
                    [&](const Device& d) { return d.id == id; })) {
        SDL_JoystickClose(joystick);
        return;
    }
    Device device;
    device.joystick = joystick;
    device.id = id;
    if (hapticReady_ && SDL_JoystickIsHaptic(joystick) == SDL_TRUE) {
        device.haptic = SDL_HapticOpenFromJoystick(joystick);
        if (device.haptic && !(SDL_HapticQuery(device.haptic) & SDL_HAPTIC_CONSTANT)) {
            SDL_HapticClose(device.haptic);
            device.haptic = nullptr;
        }
    }
    devices_.push_back(device);
}

void SdlInput::Release(Device& device) {
    if (device.haptic) {
        SDL_HapticStopAll(device.haptic);
        SDL_HapticClose(device.haptic);
    }
    if (device.joystick) SDL_JoystickClose(device.joystick);
    device = Device{};
}

void SdlInput::Close(int instanceId) {
    auto it = std::find_if(devices_.begin(), devices_.end(),
                           [&](const Device& d) { return d.id == instanceId; });
    if (it == devices_.end()) return;
    Release(*it);
    devices_.erase(it);
}

void SdlInput::SetScriptJoyState(int state, bool on) {
    if (state >= 0 && state < kJoyStates) scriptJoy_[size_t(state)] = on;
}

void SdlInput::Update() {
    keys_.TakeSnapshot();
    Settle(false);
    JoyStates states = scriptJoy_;
    if (!opening_ && joystickReady_ && (!devices_.empty() || ++idleUpdates_ >= idleInterval_)) {
        idleUpdates_ = 0;
        // Pumps the devices and brings news of plugged and unplugged ones.
        SDL_Event event;
        while (SDL_PollEvent(&event)) {
            if (event.type == SDL_JOYDEVICEADDED)
                Open(event.jdevice.which);
            else if (event.type == SDL_JOYDEVICEREMOVED)
                Close(event.jdevice.which);
        }
        for (const Device& device : devices_) {
            SDL_Joystick* joystick = device.joystick;
            JoyReading reading;
            if (SDL_JoystickNumAxes(joystick) >= 2) {
                reading.x = SDL_JoystickGetAxis(joystick, 0);
                reading.y = SDL_JoystickGetAxis(joystick, 1);
            }
            if (SDL_JoystickNumHats(joystick) >= 1) reading.hat = SDL_JoystickGetHat(joystick, 0);
            const int buttons = std::min(SDL_JoystickNumButtons(joystick), 32);
            for (int b = 0; b < buttons; ++b)
                if (SDL_JoystickGetButton(joystick, b)) reading.buttons |= 1u << b;
            states |= StatesOf(reading);
        }
    }
    joy_ = states;
}

bool SdlInput::JoyStateOn(int state) const {
    return state >= 0 && state < kJoyStates && joy_[size_t(state)];
}

void SdlInput::SetForceFeedback(bool on) {
    forceFeedback_ = on;
    if (on || opening_) return;
    for (Device& device : devices_)
        if (device.haptic) SDL_HapticStopAll(device.haptic);
}

void SdlInput::PlayJolt(const kdv::JoltEffect& jolt) {
    if (!forceFeedback_ || opening_) return;
    const int level = JoltLevel(jolt);
    if (level == 0) return;
    for (Device& device : devices_) {
        if (!device.haptic) continue;
        SDL_HapticEffect effect{};
        effect.type = SDL_HAPTIC_CONSTANT;
        effect.constant.direction.type = SDL_HAPTIC_CARTESIAN;
        effect.constant.direction.dir[0] = jolt.fx;
        effect.constant.direction.dir[1] = jolt.fy;
        effect.constant.length = Uint32(std::max(jolt.durationMs, 0));
        effect.constant.level = Sint16(level);
        if (device.effect < 0)
            device.effect = SDL_HapticNewEffect(device.haptic, &effect);
        else if (SDL_HapticUpdateEffect(device.haptic, device.effect, &effect) != 0)
            continue;
        if (device.effect >= 0) SDL_HapticRunEffect(device.haptic, device.effect, 1);
    }
}

}  // namespace app
