// The settings file: what is read, what is written, and odd values.
#include <gtest/gtest.h>

#include "core/controls/settings.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "testkit/testkit.h"

using namespace kdv;

namespace {

std::string Text(const testkit::Bytes& b) {
    return std::string(b.begin(), b.end());
}

}  // namespace

TEST(SettingsFile, OddValuesAreLimitedOrIgnored) {
    Settings s;
    ParseSettings(
        "[options]\nGameDifficulty=7\nlanguage = 5\nSoundEnable=2\nSoundVolume=loud\n"
        "PaletteType=-3\n[KeysForPlayer1]\nMoveUp=-7\nFire=99999999999\n"
        "[KeysForPlayer2]\nStart=13\nPause=14\n[JoystickForPlayer2]\nStart=1\n",
        s);
    EXPECT_EQ(s.gameDifficulty, 3);
    EXPECT_EQ(s.language, 1);
    EXPECT_TRUE(s.soundEnable);
    EXPECT_EQ(s.soundVolume, 100);  // not a number: the default stays
    EXPECT_TRUE(s.paletteType);
    EXPECT_EQ(s.keys1[MoveUp], -7);
    EXPECT_EQ(s.keys1[Fire], 17);   // out of range: the default stays
    EXPECT_EQ(s.keys2[Start], 32);  // player 2's Start and Pause are never read
    EXPECT_EQ(s.keys2[Pause], 0);
    EXPECT_EQ(s.joystick2[Start], 36);

    Settings negative;
    ParseSettings("[Options]\nLanguage=-1\nGameDifficulty=-4\n", negative);
    EXPECT_EQ(negative.language, 1);
    EXPECT_EQ(negative.gameDifficulty, -4);  // only limited from above
}

TEST(SettingsFile, WritesExactlyThirtyKeysInFiveSections) {
    Settings s;
    s.soundEnable = true;
    const std::string text = FormatSettings(s);
    EXPECT_EQ(std::count(text.begin(), text.end(), '='), 30);
    EXPECT_EQ(std::count(text.begin(), text.end(), '['), 5);
    EXPECT_NE(text.find("SoundEnable=1\n"), std::string::npos);
    EXPECT_EQ(
        text.find(
            "[KeysForPlayer2]\nMoveUp=87\nMoveDown=90\nMoveLeft=65\nMoveRight=83\nFire=16\n\n"),
        text.find("[KeysForPlayer2]"));
    Settings back;
    back.soundVolume = 1;
    ParseSettings(text, back);
    EXPECT_EQ(back.soundVolume, 100);
}

TEST(SettingsFile, ReadAtCreationSavedAtClose) {
    testkit::Rig rig;
    rig.InstallStandardData();
    rig.files.files["kordavel.ini"] = testkit::Bytes{};
    std::string ini = "[Options]\nGameDifficulty=7\nSoundVolume=55\nForceFeedback=1\nLanguage=0\n";
    rig.files.files["kordavel.ini"].assign(ini.begin(), ini.end());
    ASSERT_TRUE(rig.StartUp());
    Game& g = rig.g();
    EXPECT_EQ(g.Settings.gameDifficulty, 3);
    EXPECT_TRUE(g.Settings.moreTanks);
    EXPECT_EQ(g.StarPeriod, 16);
    EXPECT_TRUE(rig.input.forceFeedback);
    EXPECT_EQ(rig.window.language, 0);
    FormClose(g);
    const std::string saved = Text(rig.files.files["kordavel.ini"]);
    EXPECT_NE(saved.find("GameDifficulty=3\n"), std::string::npos);
    EXPECT_NE(saved.find("SoundVolume=55\n"), std::string::npos);
}

TEST(SettingsFile, WithoutAFileTheDefaultsHoldAndARunStartsInRussian) {
    testkit::Rig rig;
    rig.InstallStandardData();
    ASSERT_TRUE(rig.StartUp());
    EXPECT_EQ(rig.window.language, 1);
    EXPECT_EQ(rig.window.modeWidth, 640);
    EXPECT_EQ(rig.g().Settings.keys1, (BindingRow{38, 40, 37, 39, 17, 32, 80}));
}

TEST(SettingsFile, ReadOnlyFileIsReportedAndKept) {
    testkit::Rig rig;
    rig.InstallStandardData();
    std::string ini = "[Options]\nSoundVolume=35\n";
    rig.files.files["kordavel.ini"].assign(ini.begin(), ini.end());
    rig.files.readOnly.insert("kordavel.ini");
    ASSERT_TRUE(rig.StartUp());
    rig.g().Settings.soundVolume = 80;
    FormClose(rig.g());
    EXPECT_EQ(Text(rig.files.files["kordavel.ini"]), ini);
    ASSERT_FALSE(rig.window.messages.empty());
    EXPECT_NE(rig.window.messages.back().find("kordavel.ini"), std::string::npos);
}

TEST(SettingsFile, WhatPeopleAndOtherToolsWriteIsRead) {
    Settings s;
    ParseSettings(
        "\xEF\xBB\xBF[Options]\r\nSoundVolume=35 ; quieter\r\n  GameDifficulty = 2;hard\r\n"
        "Language=0\t\r\n[ KeysForPlayer1 ]\r\nFire = 13 ; Enter\r\n",
        s);
    EXPECT_EQ(s.soundVolume, 35);
    EXPECT_EQ(s.gameDifficulty, 2);
    EXPECT_EQ(s.language, 0);
    EXPECT_EQ(s.keys1[Fire], 13);
}

TEST(SettingsFile, SavingKeepsEveryLineTheGameDoesNotOwn) {
    const std::string old =
        "\xEF\xBB\xBF; my settings\r\n[Options]\r\nSoundVolume=35 ; quieter\r\nExtra=yes\r\n"
        "GameDifficulty=hard\r\nLanguage=5\r\nSoundEnable=2\r\n\r\n[Mine]\r\nkey=value\r\n"
        "[KeysForPlayer1]\r\nFire=13\r\n";
    Settings s;
    ParseSettings(old, s);
    const std::string same = MergeSettings(old, s);
    EXPECT_EQ(same.find("\xEF\xBB\xBF; my settings\r\n[Options]\r\nSoundVolume=35 ; quieter\r\n"
                        "Extra=yes\r\nGameDifficulty=hard\r\nLanguage=1\r\nSoundEnable=1\r\n"),
              0u)
        << same;  // the unreadable difficulty stays; odd values are written in the game's form
    EXPECT_NE(same.find("[Mine]\r\nkey=value\r\n"), std::string::npos);
    EXPECT_NE(same.find("[KeysForPlayer1]\r\nFire=13\r\nMoveUp=38\r\n"), std::string::npos);
    EXPECT_NE(same.find("\r\n\r\n[JoystickForPlayer2]\r\nMoveUp=36\r\n"), std::string::npos);
    EXPECT_EQ(MergeSettings(same, s), same);
    Settings back;
    ParseSettings(same, back);
    EXPECT_EQ(FormatSettings(back), FormatSettings(s));  // all 30 keys now in the file

    s.soundVolume = 60;
    s.gameDifficulty = 1;  // the player has set it since: the unreadable value gives way
    const std::string changed = MergeSettings(old, s);
    EXPECT_NE(changed.find("SoundVolume=60 ; quieter\r\n"), std::string::npos);
    EXPECT_NE(changed.find("GameDifficulty=1\r\n"), std::string::npos);
    EXPECT_EQ(MergeSettings("", s), FormatSettings(s));
    // A lone carriage return ends no line (found by the settings fuzzer).
    const std::string lone = MergeSettings("[Options]\nSoundEnable=12;\r", s);
    EXPECT_EQ(MergeSettings(lone, s), lone);
}

// A section written twice, in different cases, is one section: the first line of a key is the
// one read and written, and a missing key joins the section's last block.
TEST(SettingsFile, ASectionWrittenTwiceIsOneSection) {
    const std::string old =
        "[OPTIONS]\nSoundVolume=10\n[Mine]\nx=1\n[options]\nSOUNDVOLUME=20\nLanguage=0\n";
    Settings s;
    ParseSettings(old, s);
    EXPECT_EQ(s.soundVolume, 10);
    EXPECT_EQ(s.language, 0);
    s.soundVolume = 15;
    const std::string merged = MergeSettings(old, s);
    EXPECT_EQ(merged.find("[OPTIONS]\nSoundVolume=15\n[Mine]\nx=1\n[options]\nSOUNDVOLUME=20\n"
                          "Language=0\nSoundEnable="),
              0u)
        << merged;
    EXPECT_EQ(merged.find("[Options]"), std::string::npos) << "a third block was added";
    EXPECT_EQ(MergeSettings(merged, s), merged);
    Settings back;
    ParseSettings(merged, back);
    EXPECT_EQ(FormatSettings(back), FormatSettings(s));
}

TEST(SettingsFile, AFileThatNeedsNoChangeIsNotWritten) {
    testkit::Rig rig;
    rig.InstallStandardData();
    const std::string ini = "; hand-made, kept read-only\n" + FormatSettings(Settings{});
    rig.files.files["kordavel.ini"].assign(ini.begin(), ini.end());
    rig.files.readOnly.insert("kordavel.ini");
    ASSERT_TRUE(rig.StartUp());
    FormClose(rig.g());
    EXPECT_EQ(Text(rig.files.files["kordavel.ini"]), ini);
    EXPECT_TRUE(rig.window.messages.empty());
}
