// The sound bank and playing effects.
#include <gtest/gtest.h>

#include "core/flow/main_form.h"
#include "core/game.h"
#include "core/sound/sound.h"
#include "testkit/testkit.h"

using namespace kdv;

TEST(SoundBank, SplitsBackToBackWavesAndStopsAtATruncatedOne) {
    auto bank = testkit::MakeSoundBank(3);
    EXPECT_EQ(SplitSoundBank(bank).size(), 3u);
    bank.resize(bank.size() - 1);
    EXPECT_EQ(SplitSoundBank(bank).size(), 2u);
    bank[0] = 'X';
    EXPECT_TRUE(SplitSoundBank(bank).empty());
    // A size field pointing past the end of the file is not trusted.
    auto bad = testkit::MakeWave(4);
    bad[4] = bad[5] = bad[6] = bad[7] = 0xFF;
    EXPECT_TRUE(SplitSoundBank(bad).empty());
}

TEST(SoundVolume, TwentyHundredthsOfADecibelPerStep) {
    EXPECT_EQ(SoundVolume(100, 100), 0);
    EXPECT_EQ(SoundVolume(100, 50), -1000);
    EXPECT_EQ(SoundVolume(100, 0), -2000);
    EXPECT_EQ(SoundVolume(0, 100), -1980);  // percent is raised to 1
    EXPECT_EQ(SoundVolume(100, -40), -2000);
    EXPECT_EQ(SoundVolume(100, 2147483647), 0);
}

TEST(PlaySound, ShortBankSilencesMissingEffectsAndTheExitWaits) {
    testkit::Rig rig;
    rig.InstallStandardData();
    rig.files.files["data/tank.snd"] = testkit::MakeSoundBank(5);
    ASSERT_TRUE(rig.StartUp());
    Game& g = rig.g();
    rig.sound.played.clear();
    for (int e = 0; e < 10; ++e) PlaySound(g, 100, e);
    ASSERT_EQ(rig.sound.played.size(), 5u);
    EXPECT_TRUE(rig.sound.played[4].wait);
    EXPECT_FALSE(rig.sound.played[3].wait);
    for (int e = 0; e < 10; ++e) EXPECT_EQ(g.soundsPlayed[size_t(e)], 1u) << e;
}

TEST(PlaySound, SoundOffPlaysNothingButCountsAsks) {
    testkit::Rig rig;
    rig.InstallStandardData();
    ASSERT_TRUE(rig.StartUp());
    rig.g().Settings.soundEnable = false;
    rig.sound.played.clear();
    FormClose(rig.g());
    EXPECT_TRUE(rig.sound.played.empty());
    EXPECT_EQ(rig.g().soundsPlayed[sfxExit], 1u);
}

TEST(PlaySound, DeviceOrBankFailureSilencesThisRunOnly) {
    {
        testkit::Rig rig;
        rig.InstallStandardData();
        rig.sound.failInitialise = true;
        ASSERT_TRUE(rig.StartUp());
        EXPECT_TRUE(rig.g().SoundUnavailable);
        EXPECT_TRUE(rig.g().Settings.soundEnable);  // the player's choice stands
        rig.sound.played.clear();
        FormClose(rig.g());
        EXPECT_TRUE(rig.sound.played.empty());
        const auto& ini = rig.files.files["kordavel.ini"];
        EXPECT_NE(std::string(ini.begin(), ini.end()).find("SoundEnable=1"), std::string::npos);
    }
    {
        testkit::Rig rig;
        rig.InstallStandardData();
        rig.files.files["data/tank.snd"] = {'j', 'u', 'n', 'k'};
        ASSERT_TRUE(rig.StartUp());
        EXPECT_TRUE(rig.g().SoundUnavailable);
        EXPECT_TRUE(rig.g().Settings.soundEnable);
    }
}
