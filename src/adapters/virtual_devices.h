#pragma once
// Devices without hardware: what the headless runner, the tests and the benchmarks play on.
#include <array>
#include <bitset>
#include <functional>
#include <string>
#include <vector>

#include "core/platform/services.h"
#include "core/screen/screen.h"

namespace adapters {

// Keys and joystick states set by a script or a test; Update takes the snapshot the step sees.
// Like the window's keyboard, a key pressed and released before a snapshot shows as down in it.
class VirtualInput : public kdv::InputDevice {
  public:
    void SetKey(int code, bool down) {
        if (code < 0 || code >= 256) return;
        live_[size_t(code)] = down;
        if (down) pressed_[size_t(code)] = true;
    }
    void SetJoyState(int state, bool on) {
        if (state >= 0 && state < 36) liveJoy_[size_t(state)] = on;
    }
    bool LiveKey(int code) const { return code >= 0 && code < 256 && live_[size_t(code)]; }

    void Update() override {
        keys_ = live_ | pressed_;
        pressed_.reset();
        joy_ = liveJoy_;
    }
    bool KeyDown(int code) const override { return code >= 0 && code < 256 && keys_[size_t(code)]; }
    bool JoyStateOn(int state) const override {
        return state >= 0 && state < 36 && joy_[size_t(state)];
    }
    void SetForceFeedback(bool on) override { forceFeedback = on; }
    void PlayJolt(const kdv::JoltEffect& effect) override {
        ++joltCount;
        if (record) jolts.push_back(effect);
    }

    bool forceFeedback = false;
    long joltCount = 0;
    bool record = false;  // keep every jolt (tests); a long run keeps only the count
    std::vector<kdv::JoltEffect> jolts;

  private:
    std::bitset<256> live_, pressed_, keys_;  // a word at a time: Update runs every tick
    std::array<bool, 36> liveJoy_{}, joy_{};
};

// Milliseconds that move only when told to.
class ManualClock : public kdv::Clock {
  public:
    uint32_t TickCount() override { return now; }
    uint32_t now = 0;
};

// A sound device that accepts the bank and plays nothing; it remembers what was asked.
class SilentSound : public kdv::SoundDevice {
  public:
    void Initialise() override {
        if (failInitialise) throw std::runtime_error("no sound device");
        initialised = true;
    }
    void Finalise() override { initialised = false; }
    void LoadBank(std::vector<std::vector<uint8_t>> waves) override { count = int(waves.size()); }
    int Count() const override { return count; }
    void Play(int item, int volume, bool wait) override {
        ++playCount;
        if (record) played.push_back({item, volume, wait});
    }

    struct Played {
        int item, volume;
        bool wait;
    };
    bool failInitialise = false;
    bool initialised = false;
    int count = 0;
    long playCount = 0;
    bool record = false;  // keep every play (tests); a long run keeps only the count
    std::vector<Played> played;
};

// Accepts every frame; counts them. Without wantsPixels no frame is converted or handed over.
class VirtualDisplay : public kdv::Display {
  public:
    bool CanDraw() const override { return canDraw; }
    bool WantsPixels() const override { return wantsPixels; }
    void Present(const kdv::WorkBitmap&) override { ++presented; }
    bool canDraw = true;
    bool wantsPixels = true;
    long presented = 0;
};

// A main window without a screen: messages and failures are collected (and handed to the
// callbacks, if set), mode changes are remembered.
class VirtualWindow : public kdv::Window {
  public:
    void ShowMessage(const std::string& text) override {
        messages.push_back(text);
        if (onMessage) onMessage(text);
    }
    void Close() override { closeRequested = true; }
    void Fail(const std::string& text) override {
        failure = text;
        failed = true;
        closeRequested = true;
    }
    void ApplyMode(int width, int height, bool full) override {
        modeWidth = width;
        modeHeight = height;
        fullScreen = full;
    }
    void ToggleFullScreen() override { fullScreen = !fullScreen; }
    bool IsFullScreen() const override { return fullScreen; }
    void SetTimerEnabled(bool enabled) override { timerEnabled = enabled; }
    void SetPaletteChecked(bool checked) override { paletteChecked = checked; }
    void SetLanguageChecked(int lang) override { language = lang; }
    void ShowOptions() override { ++dialogsShown; }
    void ShowAbout() override { ++dialogsShown; }
    void ShowSelectLevel() override { ++dialogsShown; }

    std::function<void(const std::string&)> onMessage;
    std::vector<std::string> messages;
    std::string failure;
    bool failed = false;
    bool closeRequested = false;
    bool fullScreen = false;
    bool timerEnabled = false;
    bool paletteChecked = false;
    int language = -1;
    int modeWidth = 0, modeHeight = 0;
    int dialogsShown = 0;
};

// The virtual devices of one game, with the files it reads from.
struct VirtualPlatform {
    VirtualInput input;
    ManualClock clock;
    SilentSound sound;
    VirtualDisplay display;
    VirtualWindow window;

    kdv::Services ServicesWith(kdv::FileSystem& files) {
        return {&display, &sound, &input, &clock, &files, &window};
    }
};

}  // namespace adapters
