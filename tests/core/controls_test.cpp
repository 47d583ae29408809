// Bindings: which codes can be down, how they become tank commands, names, defaults, jolts.
#include <gtest/gtest.h>

#include "core/controls/player_controls.h"
#include "core/game.h"
#include "testkit/testkit.h"

using namespace kdv;

TEST(Bindings, OnlyCodesOneTo123CanBeDown) {
    testkit::Rig rig;
    for (int c = 0; c < 256; ++c) rig.Press(c);
    rig.input.Update();
    EXPECT_FALSE(IsKeyDown(rig.g(), 0));
    EXPECT_TRUE(IsKeyDown(rig.g(), 1));
    EXPECT_TRUE(IsKeyDown(rig.g(), 123));
    EXPECT_FALSE(IsKeyDown(rig.g(), 124));
    EXPECT_FALSE(IsKeyDown(rig.g(), -1));
    EXPECT_FALSE(IsKeyDown(rig.g(), -2147483647 - 1));
}

TEST(Bindings, JoystickCodesUseTheirLowByte) {
    testkit::Rig rig;
    for (int s = 0; s < 36; ++s) rig.input.SetJoyState(s, true);
    rig.input.Update();
    EXPECT_TRUE(IsJoyStateOn(rig.g(), 0));
    EXPECT_TRUE(IsJoyStateOn(rig.g(), 35));
    EXPECT_FALSE(IsJoyStateOn(rig.g(), 36));
    EXPECT_FALSE(IsJoyStateOn(rig.g(), 39));
    EXPECT_FALSE(IsJoyStateOn(rig.g(), 40));
    EXPECT_TRUE(IsJoyStateOn(rig.g(), 256 + 3));
    EXPECT_FALSE(IsJoyStateOn(rig.g(), -1));
}

TEST(Bindings, ScansReturnTheLowestActiveCode) {
    testkit::Rig rig;
    rig.input.Update();
    EXPECT_EQ(ScanKeyboard(rig.g()), 0);
    EXPECT_EQ(ScanJoystick(rig.g()), 36);
    rig.Press(90);
    rig.Press(38);
    rig.input.SetJoyState(7, true);
    rig.input.SetJoyState(30, true);
    rig.input.Update();
    EXPECT_EQ(ScanKeyboard(rig.g()), 38);
    EXPECT_EQ(ScanJoystick(rig.g()), 7);
}

TEST(Bindings, Names) {
    EXPECT_EQ(KeyName(37), "Left");
    EXPECT_EQ(KeyName(39), "Right,\"");
    EXPECT_EQ(KeyName(46), "Delete,>");
    EXPECT_EQ(KeyName(48), "0");
    EXPECT_EQ(KeyName(65), "A");
    EXPECT_EQ(KeyName(66), "N/A");
    EXPECT_EQ(KeyName(67), "N/A");
    EXPECT_EQ(KeyName(68), "D");
    EXPECT_EQ(KeyName(90), "Z");
    EXPECT_EQ(KeyName(92), "\\");
    EXPECT_EQ(KeyName(101), "Gray 5");
    EXPECT_EQ(KeyName(111), "Gray /");
    EXPECT_EQ(KeyName(0), "N/A");
    EXPECT_EQ(KeyName(112), "N/A");
    EXPECT_EQ(KeyName(-5), "N/A");
    EXPECT_EQ(JoystickName(0), "Up");
    EXPECT_EQ(JoystickName(3), "Right");
    EXPECT_EQ(JoystickName(4), "Button1");
    EXPECT_EQ(JoystickName(35), "Button32");
    EXPECT_EQ(JoystickName(36), "N/A");
    EXPECT_EQ(JoystickName(256 + 4), "Button1");
}

TEST(Bindings, DefaultsLeaveThePauseBindings) {
    Settings s;
    s.keys1.fill(1);
    s.joystick1.fill(2);
    s.keys2.fill(3);
    s.joystick2.fill(4);
    SetDefaultBindings(s);
    const Settings d;
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(s.keys1[size_t(i)], d.keys1[size_t(i)]);
        EXPECT_EQ(s.joystick2[size_t(i)], 36);
    }
    EXPECT_EQ(s.keys1[Pause], 1);
    EXPECT_EQ(s.joystick1[Pause], 2);
    EXPECT_EQ(s.keys2[Pause], 3);
    EXPECT_EQ(s.joystick2[Pause], 4);
}

TEST(Bindings, ExplosionJoltPointsFromTheFieldCentre) {
    testkit::Rig rig;
    ExplosionJolt(rig.g(), 0, 0);
    EXPECT_TRUE(rig.input.jolts.empty());  // force feedback off
    rig.g().Settings.forceFeedback = true;
    ExplosionJolt(rig.g(), 160, 100);
    ExplosionJolt(rig.g(), 0, 0);
    ExplosionJolt(rig.g(), 319, 199);
    ExplosionJolt(rig.g(), 161, 101);
    ASSERT_EQ(rig.input.jolts.size(), 4u);
    EXPECT_EQ(rig.input.jolts[0].fx, 0);
    EXPECT_EQ(rig.input.jolts[0].fy, 0);
    EXPECT_EQ(rig.input.jolts[1].fx, -10000);
    EXPECT_EQ(rig.input.jolts[1].fy, -10000);
    EXPECT_EQ(rig.input.jolts[2].fx, 9937);
    EXPECT_EQ(rig.input.jolts[2].fy, 9900);
    EXPECT_EQ(rig.input.jolts[3].fx, 62);
    EXPECT_EQ(rig.input.jolts[3].durationMs, 1000);
    EXPECT_EQ(rig.input.jolts[3].power, 10000);
    EXPECT_EQ(rig.input.jolts[3].period, 50);
}
