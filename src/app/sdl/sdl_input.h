#pragma once
// The game's input device: the keyboard as the main window reports it, and every joystick and
// gamepad through SDL, with force feedback where a device has a constant-force effect.
#include <vector>

#include "app/qt/key_latch.h"
#include "app/sdl/joystick_states.h"
#include "core/platform/services.h"

struct _SDL_Joystick;
struct _SDL_Haptic;

namespace app {

class SdlInput : public kdv::InputDevice {
  public:
    SdlInput();  // without a joystick subsystem every joystick state stays off
    ~SdlInput() override;
    SdlInput(const SdlInput&) = delete;
    SdlInput& operator=(const SdlInput&) = delete;

    // Fed by the main window's key events.
    KeyLatch& Keys() { return keys_; }
    // Joystick states set by a script; merged with the devices'.
    void SetScriptJoyState(int state, bool on);
    int DeviceCount() const { return int(devices_.size()); }

    void Update() override;
    bool KeyDown(int code) const override { return keys_.Down(code); }
    bool JoyStateOn(int state) const override;
    void SetForceFeedback(bool on) override;
    void PlayJolt(const kdv::JoltEffect& effect) override;

  private:
    struct Device {
        _SDL_Joystick* joystick = nullptr;
        int id = -1;  // SDL_JoystickID
        _SDL_Haptic* haptic = nullptr;
        int effect = -1;  // the constant-force effect, once made
    };
    void Open(int deviceIndex);
    void Close(int instanceId);
    static void Release(Device& device);

    bool joystickReady_ = false;
    bool hapticReady_ = false;
    bool forceFeedback_ = false;
    std::vector<Device> devices_;
    KeyLatch keys_;
    JoyStates joy_, scriptJoy_;
};

}  // namespace app
