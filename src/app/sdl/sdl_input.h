#pragma once
// The game's input device: the keyboard as the main window reports it, and every joystick and
// gamepad through SDL, with force feedback where a device has a constant-force effect.
#include <atomic>
#include <thread>
#include <vector>

#include "app/sdl/joystick_states.h"
#include "core/platform/services.h"
#include "ui/key_latch.h"

struct _SDL_Joystick;
struct _SDL_Haptic;

namespace app {

class SdlInput : public kdv::InputDevice {
  public:
    // Opens the joystick subsystem and the devices plugged in now; with openNow false, nothing
    // until OpenInBackground. Without a joystick subsystem every joystick state stays off.
    explicit SdlInput(bool openNow = true);
    ~SdlInput() override;
    SdlInput(const SdlInput&) = delete;
    SdlInput& operator=(const SdlInput&) = delete;

    // Fed by the main window's key events.
    ui::KeyLatch& Keys() { return keys_; }
    // Joystick states set by a script; merged with the devices'.
    void SetScriptJoyState(int state, bool on);
    int DeviceCount() const { return opening_ ? 0 : int(devices_.size()); }
    // Opens the joystick subsystem on a thread of its own: SDL's probe of the devices (and of
    // the session bus) takes 10-20 ms that the window's first frame need not wait for. Until it
    // is done the devices' states stay off; the first Update after it takes the devices over.
    void OpenInBackground();
    // With no device open, SDL is asked for news of plugged devices only every so many updates
    // (1: every update). Its poll costs a few system calls each time, which at a frame's rate
    // is a good part of an idle window's processor time; a device plugged in is then taken up
    // to that many frames later. Open devices are read at every update whatever this says.
    void SetIdlePollInterval(int updates) { idleInterval_ = updates < 1 ? 1 : updates; }

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
    void OpenSubsystems();  // on whichever thread opens them
    // Takes the background open's devices once it is done (or waits for it).
    void Settle(bool wait);
    void Open(int deviceIndex);
    void Close(int instanceId);
    static void Release(Device& device);

    bool joystickReady_ = false;
    bool hapticReady_ = false;
    bool forceFeedback_ = false;
    std::vector<Device> devices_;  // the opening thread's alone while it runs
    std::thread opener_;
    std::atomic<bool> opened_{false};  // the thread has finished
    bool opening_ = false;             // a background open has not been taken yet
    int idleInterval_ = 1;
    int idleUpdates_ = 0;  // updates since SDL was last polled with no device open
    ui::KeyLatch keys_;
    JoyStates joy_, scriptJoy_;
};

}  // namespace app
