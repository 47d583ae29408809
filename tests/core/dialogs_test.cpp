// The dialogs' logic without widgets: the options dialog's working copy, its bars, Defaults and
// the script keys; the capture's choice of key; the level dialog's range, Ok and Cancel.
#include <gtest/gtest.h>

#include "core/controls/player_controls.h"
#include "core/dialogs/dialogs.h"
#include "core/flow/game_flow.h"
#include "testkit/started.h"
#include "testkit/testkit.h"

using namespace kdv;

namespace {

using Started = testkit::StartedRig;

}  // namespace

TEST(OptionsDialog, EditsGoToTheCopyUntilOkAndOkRunsTheDeriveStep) {
    Started rig;
    Game& g = rig.g();
    OptionFormShow(g);
    SoundBarChange(g, 7);
    GameDiffBarChange(g, 2);
    SetBinding(g, rowKeys1, Fire, 88);
    EXPECT_EQ(g.Settings.soundVolume, 100);
    OptionCancelClick(g);
    EXPECT_EQ(g.Settings.soundVolume, 100);
    EXPECT_EQ(g.Settings.keys1[Fire], 17);
    EXPECT_FALSE(g.OptionsEdit.open);

    OptionFormShow(g);
    EXPECT_EQ(g.OptionsEdit.working.soundVolume, 100);  // the cancelled edit is gone
    SoundBarChange(g, 7);
    GameDiffBarChange(g, 2);
    SetBinding(g, rowJoystick2, MoveLeft, 9);
    OptionOkClick(g);
    EXPECT_EQ(g.Settings.soundVolume, 35);
    EXPECT_EQ(g.Settings.joystick2[MoveLeft], 9);
    EXPECT_TRUE(g.Settings.moreTanks);
    EXPECT_EQ(g.StarPeriod, 16);
}

TEST(OptionsDialog, OutOfRangeFileValuesShowAtTheBarsEndsAndStayUntilMoved) {
    EXPECT_EQ(SoundBarPosition(53), 10);
    EXPECT_EQ(SoundBarPosition(100), 20);
    EXPECT_EQ(SoundBarPosition(150), 20);
    EXPECT_EQ(SoundBarPosition(-7), 0);
    EXPECT_EQ(GameDiffBarPosition(-2), 0);
    EXPECT_EQ(GameDiffBarPosition(3), 3);

    Started rig;
    Game& g = rig.g();
    g.Settings.soundVolume = 53;
    g.Settings.gameDifficulty = -2;
    OptionFormShow(g);
    OptionOkClick(g);  // nothing moved: the file's values are kept as they were
    EXPECT_EQ(g.Settings.soundVolume, 53);
    EXPECT_EQ(g.Settings.gameDifficulty, -2);
    OptionFormShow(g);
    SoundBarChange(g, SoundBarPosition(53) + 1);
    OptionOkClick(g);
    EXPECT_EQ(g.Settings.soundVolume, 55);
}

TEST(OptionsDialog, DefaultsKeepEveryPauseBinding) {
    Started rig;
    Game& g = rig.g();
    g.Settings.keys1 = {1, 2, 3, 4, 5, 6, 81};
    g.Settings.joystick1 = {7, 7, 7, 7, 7, 7, 12};
    OptionFormShow(g);
    DefaultsClick(g);
    OptionCancelClick(g);
    EXPECT_EQ(g.Settings.keys1[MoveUp], 1);  // Defaults then Cancel changes nothing

    OptionFormShow(g);
    DefaultsClick(g);
    OptionOkClick(g);
    const Settings defaults;
    for (int a = 0; a < Pause; ++a) {
        EXPECT_EQ(g.Settings.keys1[size_t(a)], defaults.keys1[size_t(a)]);
        EXPECT_EQ(g.Settings.joystick1[size_t(a)], defaults.joystick1[size_t(a)]);
    }
    EXPECT_EQ(g.Settings.keys1[Pause], 81);
    EXPECT_EQ(g.Settings.joystick1[Pause], 12);
}

TEST(OptionsDialog, KeysOfTheSettingsFileGoThroughTheirControls) {
    Started rig;
    Game& g = rig.g();
    OptionFormShow(g);
    EXPECT_FALSE(SetOptionByKey(g, "Options/SoundVolume", 50));
    EXPECT_FALSE(SetOptionByKey(g, "Options/SoundEnable", 0));
    EXPECT_FALSE(SetOptionByKey(g, "KeysForPlayer1/Pause", 27));
    EXPECT_FALSE(SetOptionByKey(g, "JoystickForPlayer2/Fire", 36));
    EXPECT_EQ(g.OptionsEdit.working.soundVolume, 50);
    EXPECT_FALSE(g.OptionsEdit.working.soundEnable);
    EXPECT_EQ(g.OptionsEdit.working.keys1[Pause], 27);
    // Values no control can give, and keys the dialog does not edit, are refused.
    for (auto [key, value] :
         std::vector<std::pair<std::string, long>>{{"Options/SoundVolume", 53},
                                                   {"Options/SoundVolume", 105},
                                                   {"Options/GameDifficulty", 4},
                                                   {"Options/SoundEnable", 2},
                                                   {"Options/Language", 0},
                                                   {"KeysForPlayer1/Fire", 124},
                                                   {"JoystickForPlayer1/Fire", 37},
                                                   {"KeysForPlayer2/Start", 32},
                                                   {"KeysForPlayer9/Fire", 1},
                                                   {"Options", 1}}) {
        const Settings before = g.OptionsEdit.working;
        EXPECT_TRUE(SetOptionByKey(g, key, value)) << key << " " << value;
        EXPECT_EQ(FormatSettings(g.OptionsEdit.working), FormatSettings(before)) << key;
    }
}

TEST(CaptureDialog, TakesTheLowestKeyCodeThatCanBeBound) {
    std::array<bool, 256> keys{};
    EXPECT_EQ(CaptureKey(keys), 0);
    keys[200] = true;  // past 123: cannot be a binding
    EXPECT_EQ(CaptureKey(keys), 0);
    keys[27] = true;
    keys[38] = true;
    EXPECT_EQ(CaptureKey(keys), 27);  // Esc is a key like any other
}

TEST(LevelDialog, RangeOkAndKeptChoices) {
    Started rig(4);  // the demonstration's map and three stages
    Game& g = rig.g();
    ASSERT_EQ(g.LevelCount, 3);
    g.SelectLevel.position = 9;  // a longer level file earlier; the spinner keeps to its range
    SelectLevelView view = SelectFormShow(g);
    EXPECT_EQ(view.maximum, 3);
    EXPECT_EQ(view.position, 3);
    EXPECT_TRUE(view.okEnabled);

    EXPECT_TRUE(SelectOkClick(g, 4, 0));  // past the last stage: refused, nothing changes
    EXPECT_EQ(g.GameState, gsTitleScroll);
    ASSERT_FALSE(SelectOkClick(g, 2, 2));
    EXPECT_EQ(g.GameState, gsStageIntro);
    EXPECT_EQ(g.StageNumber, 2);
    EXPECT_EQ(g.GameMode, gmDuel);
    EXPECT_TRUE(g.NewGamePending);
    view = SelectFormShow(g);
    EXPECT_EQ(view.position, 2);
    EXPECT_EQ(view.gameItem, 2);
}

TEST(LevelDialog, NoStageMeansNoOk) {
    Started rig(1);  // only the demonstration's map
    Game& g = rig.g();
    ASSERT_EQ(g.LevelCount, 0);
    const SelectLevelView view = SelectFormShow(g);
    EXPECT_FALSE(view.okEnabled);
    EXPECT_TRUE(SelectOkClick(g, 1, 0));
    EXPECT_EQ(g.GameState, gsTitleScroll);
}
