// Joystick states from a device's axes, hat and buttons; the force of a jolt; mixer volumes.
#include <gtest/gtest.h>

#include "app/sdl/joystick_states.h"
#include "app/sdl/sound_volume.h"

namespace {

using app::JoyReading;
using app::StatesOf;

TEST(JoystickStates, TheStickCountsBeyondFivePerCentOfItsRange) {
    EXPECT_TRUE(StatesOf(JoyReading{}).none());
    EXPECT_TRUE(StatesOf(JoyReading{.x = 1638, .y = -1638}).none());
    EXPECT_TRUE(StatesOf(JoyReading{.x = -1638, .y = 1638}).none());
    const auto right = StatesOf(JoyReading{.x = 1639});
    EXPECT_TRUE(right[3]);
    EXPECT_EQ(right.count(), 1u);
    EXPECT_TRUE(StatesOf(JoyReading{.x = -1639})[2]);
    EXPECT_TRUE(StatesOf(JoyReading{.y = -32768})[0]);
    EXPECT_TRUE(StatesOf(JoyReading{.y = 32767})[1]);
    const auto diagonal = StatesOf(JoyReading{.x = -20000, .y = 20000});
    EXPECT_TRUE(diagonal[1] && diagonal[2]);
    EXPECT_EQ(diagonal.count(), 2u);
}

TEST(JoystickStates, TheHatGivesTheSameDirections) {
    EXPECT_TRUE(StatesOf(JoyReading{.hat = app::kHatUp})[0]);
    EXPECT_TRUE(StatesOf(JoyReading{.hat = app::kHatDown})[1]);
    EXPECT_TRUE(StatesOf(JoyReading{.hat = app::kHatLeft})[2]);
    EXPECT_TRUE(StatesOf(JoyReading{.hat = app::kHatRight})[3]);
    const auto upRight = StatesOf(JoyReading{.hat = app::kHatUp | app::kHatRight});
    EXPECT_TRUE(upRight[0] && upRight[3]);
    EXPECT_EQ(upRight.count(), 2u);
}

TEST(JoystickStates, ButtonsOneToThirtyTwoAreStatesFourToThirtyFive) {
    EXPECT_TRUE(StatesOf(JoyReading{.buttons = 1})[4]);
    EXPECT_TRUE(StatesOf(JoyReading{.buttons = 1u << 31})[35]);
    const auto all = StatesOf(JoyReading{.buttons = 0xffffffffu});
    EXPECT_EQ(all.count(), 32u);
    EXPECT_FALSE(all[0] || all[1] || all[2] || all[3]);
}

TEST(JoltLevel, FollowsTheLengthOfTheForceVector) {
    EXPECT_EQ(app::JoltLevel({.fx = 0, .fy = 0}), 0);
    EXPECT_EQ(app::JoltLevel({.fx = 10000, .fy = 0}), 32767);
    EXPECT_EQ(app::JoltLevel({.fx = 0, .fy = -10000}), 32767);
    EXPECT_EQ(app::JoltLevel({.fx = -5000, .fy = 0}), 16384);
    EXPECT_EQ(app::JoltLevel({.fx = 3000, .fy = 4000}), 16384);      // length 5000
    EXPECT_EQ(app::JoltLevel({.fx = -10000, .fy = -10000}), 32767);  // clamped
    EXPECT_EQ(app::JoltLevel({.power = 5000, .fx = 10000, .fy = 0}), 16384);
}

TEST(MixVolume, HundredthsOfADecibelBecomeAChannelVolume) {
    EXPECT_EQ(app::MixVolumeFor(0), 128);
    EXPECT_EQ(app::MixVolumeFor(-600), 64);   // -6 dB: half
    EXPECT_EQ(app::MixVolumeFor(-1000), 40);  // -10 dB: 0.316
    EXPECT_EQ(app::MixVolumeFor(-2000), 13);  // -20 dB, the quietest the game asks for
    EXPECT_EQ(app::MixVolumeFor(-10000), 0);
    EXPECT_EQ(app::MixVolumeFor(500), 128);  // never louder than the sound itself
}

}  // namespace
