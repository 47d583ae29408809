#include "app/sdl/sdl_input.h"

#include <SDL.h>

#include <algorithm>

#include "app/sdl/sdl_library.h"
#include "app/sdl/sdl_lock.h"

namespace app {

SdlInput::SdlInput(bool openNow) {
    if (openNow) OpenSubsystems();
}

SdlInput::~SdlInput() {
    Settle(true);
    for (Device& device : devices_) Release(device);
    devices_.clear();
    const std::lock_guard<std::mutex> lock(SdlSubsystemLock());
    if (hapticReady_) Sdl().QuitSubSystem(SDL_INIT_HAPTIC);
    if (joystickReady_) Sdl().QuitSubSystem(SDL_INIT_JOYSTICK);
}

void SdlInput::OpenSubsystems() {
    if (!LoadSdl()) return;  // no joystick without SDL
    {
        const std::lock_guard<std::mutex> lock(SdlSubsystemLock());
        joystickReady_ = Sdl().InitSubSystem(SDL_INIT_JOYSTICK) == 0;
        if (!joystickReady_) return;
        hapticReady_ = Sdl().InitSubSystem(SDL_INIT_HAPTIC) == 0;
    }
    for (int i = 0; i < Sdl().NumJoysticks(); ++i) Open(i);
}

void SdlInput::OpenInBackground() {
    if (opening_ || joystickReady_) return;
    opening_ = true;
    opened_ = false;
    opener_ = std::thread([this] {
        OpenSubsystems();
        // SDL keeps this thread's error text until told; the thread ends here.
        if (const SdlLibrary* sdl = LoadSdl()) sdl->TLSCleanup();
        opened_ = true;
    });
}

void SdlInput::Settle(bool wait) {
    if (!opening_ || !(wait || opened_)) return;
    opener_.join();
    opening_ = false;
}

void SdlInput::Open(int deviceIndex) {
    SDL_Joystick* joystick = Sdl().JoystickOpen(deviceIndex);
    if (!joystick) return;
    const int id = Sdl().JoystickInstanceID(joystick);
    // Devices present at start are announced again by an "added" event.
    if (std::any_of(devices_.begin(), devices_.end(),
                    [&](const Device& d) { return d.id == id; })) {
        Sdl().JoystickClose(joystick);
        return;
    }
    Device device;
    device.joystick = joystick;
    device.id = id;
    if (hapticReady_ && Sdl().JoystickIsHaptic(joystick) == SDL_TRUE) {
        device.haptic = Sdl().HapticOpenFromJoystick(joystick);
        if (device.haptic && !(Sdl().HapticQuery(device.haptic) & SDL_HAPTIC_CONSTANT)) {
            Sdl().HapticClose(device.haptic);
            device.haptic = nullptr;
        }
    }
    devices_.push_back(device);
}

void SdlInput::Release(Device& device) {
    if (device.haptic) {
        Sdl().HapticStopAll(device.haptic);
        Sdl().HapticClose(device.haptic);
    }
    if (device.joystick) Sdl().JoystickClose(device.joystick);
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
        while (Sdl().PollEvent(&event)) {
            if (event.type == SDL_JOYDEVICEADDED)
                Open(event.jdevice.which);
            else if (event.type == SDL_JOYDEVICEREMOVED)
                Close(event.jdevice.which);
        }
        for (const Device& device : devices_) {
            SDL_Joystick* joystick = device.joystick;
            JoyReading reading;
            if (Sdl().JoystickNumAxes(joystick) >= 2) {
                reading.x = Sdl().JoystickGetAxis(joystick, 0);
                reading.y = Sdl().JoystickGetAxis(joystick, 1);
            }
            if (Sdl().JoystickNumHats(joystick) >= 1)
                reading.hat = Sdl().JoystickGetHat(joystick, 0);
            const int buttons = std::min(Sdl().JoystickNumButtons(joystick), 32);
            for (int b = 0; b < buttons; ++b)
                if (Sdl().JoystickGetButton(joystick, b)) reading.buttons |= 1u << b;
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
        if (device.haptic) Sdl().HapticStopAll(device.haptic);
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
            device.effect = Sdl().HapticNewEffect(device.haptic, &effect);
        else if (Sdl().HapticUpdateEffect(device.haptic, device.effect, &effect) != 0)
            continue;
        if (device.effect >= 0) Sdl().HapticRunEffect(device.haptic, device.effect, 1);
    }
}

}  // namespace app
