// The sound bank and playing effects.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

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

namespace {

// A wave with an odd-sized data chunk: the RIFF size is odd too.
testkit::Bytes OddWave(int samples) {
    testkit::Bytes w = testkit::MakeWave(samples);
    w.push_back(0x7F);
    w[4] += 1;   // RIFF size
    w[40] += 1;  // data size
    return w;
}

void Put32(testkit::Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

}  // namespace

TEST(SoundBank, AnOddSizedWaveInEveryPlaceWithOrWithoutItsPadByte) {
    for (bool pad : {true, false}) {
        for (size_t odd = 0; odd < 10; ++odd) {
            std::vector<testkit::Bytes> waves;
            testkit::Bytes bank;
            for (size_t i = 0; i < 10; ++i) {
                waves.push_back(i == odd ? OddWave(int(5 + i)) : testkit::MakeWave(int(5 + i)));
                bank.insert(bank.end(), waves.back().begin(), waves.back().end());
                if (i == odd && pad) bank.push_back(0);
            }
            EXPECT_EQ(SplitSoundBank(bank), waves) << "odd wave " << odd << " pad " << pad;
        }
    }
    // Thirteen bytes whose RIFF size (5) ends the file: once read past its end.
    const testkit::Bytes tiny = {'R', 'I', 'F', 'F', 5, 0, 0, 0, 'W', 'A', 'V', 'E', 0};
    const auto split = SplitSoundBank(tiny);
    ASSERT_EQ(split.size(), 1u);
    EXPECT_TRUE(split[0].empty());
    // A RIFF size under 4 ends the wave before its own "WAVE": its chunks were once looked for
    // past the end of the file.
    for (uint8_t size = 0; size < 4; ++size) {
        testkit::Bytes bank = testkit::MakeWave(5);
        const testkit::Bytes cut = {'R', 'I', 'F', 'F', size, 0, 0, 0, 'W', 'A', 'V', 'E'};
        bank.insert(bank.end(), cut.begin(), cut.end());
        const auto waves = SplitSoundBank(bank);
        ASSERT_EQ(waves.size(), 2u) << int(size);
        EXPECT_EQ(waves[0], testkit::MakeWave(5));
        EXPECT_TRUE(waves[1].empty());
    }
}

TEST(SoundBank, AWaveClaimingMoreThanItHoldsIsSkippedAndTheRestPlay) {
    testkit::Rig rig;
    rig.InstallStandardData();
    testkit::Bytes bank;
    std::vector<testkit::Bytes> waves;
    for (int i = 0; i < 10; ++i) {
        waves.push_back(testkit::MakeWave(10 + i));
        if (i == 3) Put32(waves.back(), 40, 0xFFFFFFFFu);  // a 4 GiB data chunk
        if (i == 6) Put32(waves.back(), 16, 0x7FFFFFF0u);  // an fmt chunk past the end
        bank.insert(bank.end(), waves.back().begin(), waves.back().end());
    }
    const auto split = SplitSoundBank(bank);
    ASSERT_EQ(split.size(), 10u);
    for (size_t i = 0; i < 10; ++i) EXPECT_EQ(split[i].empty(), i == 3 || i == 6) << i;
    EXPECT_EQ(split[4], waves[4]);

    rig.files.files["data/tank.snd"] = bank;
    ASSERT_TRUE(rig.StartUp());
    EXPECT_TRUE(rig.g().Settings.soundEnable);
    EXPECT_EQ(rig.sound.count, 10);  // numbers after the bad waves stay where they were
}

#ifdef KORDAVEL_ROOT
// The shipped bank with its first wave grown by one byte (an odd RIFF size, no pad byte).
TEST(SoundBank, ShippedBankWithItsFirstWaveGrownByOneByte) {
    std::ifstream in(std::string(KORDAVEL_ROOT) + "/data/tank.snd", std::ios::binary);
    const testkit::Bytes shipped{std::istreambuf_iterator<char>(in), {}};
    const auto waves = SplitSoundBank(shipped);
    ASSERT_EQ(waves.size(), size_t(kSoundEffects));
    testkit::Bytes grown = waves[0];
    grown.push_back(0);
    Put32(grown, 4, uint32_t(grown.size() - 8));
    Put32(grown, 40, uint32_t(grown.size() - 44));
    testkit::Bytes bank = grown;
    for (size_t i = 1; i < waves.size(); ++i)
        bank.insert(bank.end(), waves[i].begin(), waves[i].end());
    const auto split = SplitSoundBank(bank);
    ASSERT_EQ(split.size(), waves.size());
    EXPECT_EQ(split[0], grown);
    for (size_t i = 1; i < waves.size(); ++i) EXPECT_EQ(split[i], waves[i]) << i;
    // The last wave grown the same way ends the file without a pad byte.
    testkit::Bytes last = shipped;
    last.push_back(0);
    const size_t start = shipped.size() - waves.back().size();
    Put32(last, start + 4, uint32_t(waves.back().size() - 7));
    Put32(last, start + 40, uint32_t(waves.back().size() - 43));
    const auto lastSplit = SplitSoundBank(last);
    ASSERT_EQ(lastSplit.size(), waves.size());
    EXPECT_EQ(lastSplit.back().size(), waves.back().size() + 1);
}
#endif

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
