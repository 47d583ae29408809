// The SDL devices without hardware: joysticks through SDL's virtual joysticks (plugged in and
// pulled out while the input device runs), sound through SDL's dummy audio driver.
#include <SDL.h>
#include <SDL_mixer.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "app/sdl/mixer_sound.h"
#include "app/sdl/sdl_input.h"

namespace {

using Clock = std::chrono::steady_clock;

class VirtualPad {
  public:
    VirtualPad(int axes, int buttons, int hats) {
        index_ = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, axes, buttons, hats);
        if (index_ >= 0) handle_ = SDL_JoystickOpen(index_);
    }
    ~VirtualPad() { Unplug(); }
    bool Ok() const { return handle_ != nullptr; }
    void Axis(int axis, int value) { SDL_JoystickSetVirtualAxis(handle_, axis, Sint16(value)); }
    void Button(int button, bool down) { SDL_JoystickSetVirtualButton(handle_, button, down); }
    void Hat(Uint8 value) { SDL_JoystickSetVirtualHat(handle_, 0, value); }
    void Unplug() {
        if (!handle_) return;
        const SDL_JoystickID id = SDL_JoystickInstanceID(handle_);
        SDL_JoystickClose(handle_);
        handle_ = nullptr;
        for (int i = 0; i < SDL_NumJoysticks(); ++i)
            if (SDL_JoystickGetDeviceInstanceID(i) == id) SDL_JoystickDetachVirtual(i);
    }

  private:
    int index_ = -1;
    SDL_Joystick* handle_ = nullptr;
};

std::vector<int> StatesOn(const app::SdlInput& input) {
    std::vector<int> on;
    for (int s = 0; s < 36; ++s)
        if (input.JoyStateOn(s)) on.push_back(s);
    return on;
}

TEST(SdlInput, JoysticksComeAndGoWhileRunning) {
    app::SdlInput input;
    input.Update();
    EXPECT_EQ(input.DeviceCount(), 0);
    EXPECT_TRUE(StatesOn(input).empty());

    VirtualPad first(2, 12, 1);
    ASSERT_TRUE(first.Ok()) << SDL_GetError();
    input.Update();
    EXPECT_EQ(input.DeviceCount(), 1);
    EXPECT_TRUE(StatesOn(input).empty());  // centred, nothing pressed

    first.Axis(0, 20000);   // right
    first.Axis(1, -1000);   // inside the dead zone
    first.Button(0, true);  // button 1
    input.Update();
    EXPECT_EQ(StatesOn(input), (std::vector<int>{3, 4}));

    first.Axis(0, 0);
    first.Button(0, false);
    first.Hat(SDL_HAT_DOWN);
    input.Update();
    EXPECT_EQ(StatesOn(input), (std::vector<int>{1}));

    // A second device's states merge with the first's.
    VirtualPad second(2, 12, 0);
    ASSERT_TRUE(second.Ok()) << SDL_GetError();
    second.Button(11, true);  // button 12
    input.Update();
    EXPECT_EQ(input.DeviceCount(), 2);
    EXPECT_EQ(StatesOn(input), (std::vector<int>{1, 15}));

    // Pulled out: its states go with it.
    first.Unplug();
    input.Update();
    EXPECT_EQ(input.DeviceCount(), 1);
    EXPECT_EQ(StatesOn(input), (std::vector<int>{15}));

    // Jolts on devices without force feedback do nothing, and do not fail.
    input.SetForceFeedback(true);
    input.PlayJolt({.fx = 5000, .fy = -5000});
    input.SetForceFeedback(false);
}

// Opened on a thread, the input takes over the devices plugged in before, once the thread is
// done; until then the devices' states stay off.
TEST(SdlInput, OpenedInTheBackgroundTakesOverThePluggedInDevices) {
    app::SdlInput first;  // keeps the joystick subsystem up for the virtual pad
    VirtualPad pad(2, 12, 1);
    ASSERT_TRUE(pad.Ok()) << SDL_GetError();
    pad.Button(0, true);
    app::SdlInput input(false);
    input.Update();
    EXPECT_EQ(input.DeviceCount(), 0);
    input.OpenInBackground();
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    do {
        input.Update();
    } while (input.DeviceCount() == 0 && Clock::now() < deadline);
    EXPECT_EQ(input.DeviceCount(), 1);
    EXPECT_EQ(StatesOn(input), (std::vector<int>{4}));
    pad.Unplug();
    input.Update();
    EXPECT_EQ(input.DeviceCount(), 0);
    EXPECT_TRUE(StatesOn(input).empty());
}

// With no device open SDL is asked for news only every so many updates; an open device is read
// at every update.
TEST(SdlInput, PollsForNewDevicesEverySoManyUpdatesAndReadsOpenOnesEveryTime) {
    app::SdlInput input;
    input.SetIdlePollInterval(4);
    input.Update();
    VirtualPad pad(2, 12, 1);
    ASSERT_TRUE(pad.Ok()) << SDL_GetError();
    int updates = 0;
    while (input.DeviceCount() == 0 && updates < 10) {
        input.Update();
        ++updates;
    }
    EXPECT_EQ(input.DeviceCount(), 1);
    EXPECT_LE(updates, 4);
    for (bool down : {true, false, true}) {
        pad.Button(0, down);
        input.Update();
        EXPECT_EQ(StatesOn(input), down ? std::vector<int>{4} : std::vector<int>{});
    }
    pad.Unplug();
    input.Update();
    EXPECT_EQ(input.DeviceCount(), 0);
}

TEST(SdlInput, ScriptStatesAndKeysReachTheSnapshot) {
    app::SdlInput input;
    input.SetScriptJoyState(10, true);
    input.Keys().Press(38);
    EXPECT_FALSE(input.JoyStateOn(10));  // not before the next update
    EXPECT_FALSE(input.KeyDown(38));
    input.Update();
    EXPECT_TRUE(input.JoyStateOn(10));
    EXPECT_TRUE(input.KeyDown(38));
    input.SetScriptJoyState(10, false);
    input.Keys().Release(38);
    input.Update();
    EXPECT_FALSE(input.JoyStateOn(10));
    EXPECT_FALSE(input.KeyDown(38));
    EXPECT_FALSE(input.JoyStateOn(36));
    EXPECT_FALSE(input.JoyStateOn(-1));
}

// A RIFF WAVE file of 16-bit mono PCM: a tone of the given length.
std::vector<uint8_t> Wave(int milliseconds) {
    const int rate = 22050, samples = rate * milliseconds / 1000;
    std::vector<uint8_t> w;
    auto u32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) w.push_back(uint8_t(v >> (8 * i)));
    };
    auto u16 = [&](uint16_t v) {
        w.push_back(uint8_t(v));
        w.push_back(uint8_t(v >> 8));
    };
    auto tag = [&](const char* t) {
        for (int i = 0; i < 4; ++i) w.push_back(uint8_t(t[i]));
    };
    tag("RIFF");
    u32(uint32_t(36 + samples * 2));
    tag("WAVE");
    tag("fmt ");
    u32(16);
    u16(1);
    u16(1);
    u32(rate);
    u32(rate * 2);
    u16(2);
    u16(16);
    tag("data");
    u32(uint32_t(samples * 2));
    for (int i = 0; i < samples; ++i) u16(uint16_t((i % 50 < 25) ? 8000 : -8000));
    return w;
}

int PlayingChannel() {
    for (int c = 0; c < Mix_AllocateChannels(-1); ++c)
        if (Mix_Playing(c)) return c;
    return -1;
}

TEST(MixerSound, FailsWithoutAnAudioDevice) {
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    app::MixerSound sound;
    EXPECT_THROW(sound.Initialise(), std::runtime_error);
    EXPECT_EQ(sound.Count(), 0);
    sound.Play(0, 0, true);  // harmless
    sound.Finalise();
}

TEST(MixerSound, PlaysOverlappingVoicesAtTheirVolumeAndWaits) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    app::MixerSound sound;
    ASSERT_NO_THROW(sound.Initialise());
    EXPECT_THROW(sound.LoadBank({Wave(50), {'R', 'I', 'F', 'F', 0, 0, 0, 0}}), std::runtime_error);
    EXPECT_EQ(sound.Count(), 0);
    sound.LoadBank({Wave(50), Wave(300), Wave(50)});
    EXPECT_EQ(sound.Count(), 3);

    auto start = Clock::now();
    sound.Play(1, -2000, false);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100));
    const int channel = PlayingChannel();
    ASSERT_GE(channel, 0);
    EXPECT_EQ(Mix_Volume(channel, -1), 13);  // -20 dB
    sound.Play(1, 0, false);                 // the same sound again: a further voice
    EXPECT_EQ(Mix_Playing(-1), 2);

    sound.Play(7, 0, false);  // beyond the bank: nothing
    EXPECT_EQ(Mix_Playing(-1), 2);

    Mix_HaltChannel(-1);
    start = Clock::now();
    sound.Play(1, 0, true);
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(250));
    EXPECT_LT(waited, std::chrono::milliseconds(1300));
    EXPECT_EQ(Mix_Playing(-1), 0);

    // More voices than channels: older ones give way or channels are added; none is refused.
    for (int i = 0; i < 40; ++i) sound.Play(1, 0, false);
    EXPECT_GE(Mix_Playing(-1), app::MixerSound::kChannels);

    sound.Finalise();
    EXPECT_EQ(sound.Count(), 0);
    ASSERT_NO_THROW(sound.Initialise());  // and again, as after a device change
    sound.Finalise();
}

// Opened on a thread, as the window does (started after the game has handed over its bank):
// the bank is converted there and plays once taken; a run that never hands one over, or that
// ends before the thread starts, still ends.
TEST(MixerSound, OpenedInTheBackgroundTakesTheBankHandedOver) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    app::MixerSound sound;
    sound.OpenLater();
    ASSERT_NO_THROW(sound.Initialise());
    sound.LoadBank({Wave(50), Wave(300)});
    EXPECT_EQ(sound.Count(), 2);
    sound.Play(0, 0, false);  // not open yet: not heard, and no wait
    sound.OpenInBackground();
    const auto start = Clock::now();
    sound.Play(1, 0, true);  // waits for the device and the bank, then for the sound
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(250));
    EXPECT_EQ(sound.Count(), 2);
    sound.Play(0, 0, false);
    EXPECT_EQ(Mix_Playing(-1), 1);
    sound.Finalise();
    EXPECT_EQ(sound.Count(), 0);

    sound.OpenInBackground();
    ASSERT_NO_THROW(sound.Initialise());
    sound.Finalise();  // no bank came: the device closes all the same
    EXPECT_EQ(sound.Count(), 0);

    sound.OpenLater();
    sound.Initialise();
    sound.LoadBank({Wave(50)});
    sound.Finalise();  // closed before the thread started
    EXPECT_EQ(sound.Count(), 0);

    // A failed open does not wait for a bank: it is reported at once or leaves the game silent.
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    sound.OpenInBackground();
    try {
        sound.Initialise();
        sound.LoadBank({Wave(50)});
        sound.Play(0, 0, true);
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(sound.Count(), 0);
    sound.Finalise();
}

}  // namespace
