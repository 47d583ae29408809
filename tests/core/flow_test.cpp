// The game-state machine: clock, pause, title, intro, starts and the demonstration.
#include <gtest/gtest.h>

#include "core/flow/game_flow.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "core/random.h"
#include "testkit/started.h"
#include "testkit/testkit.h"

using namespace kdv;

namespace {

using Started = testkit::StartedRig;

}  // namespace

TEST(Title, ScrollsToRow50ThenStartsTheDemoAfterFiveSeconds) {
    Started rig;
    Game& g = rig.g();
    EXPECT_EQ(g.GameState, gsTitleScroll);
    EXPECT_EQ(g.TitleScroll.Row, 100);
    rig.Tick(99);
    EXPECT_EQ(g.TitleScroll.Row, 51);
    EXPECT_EQ(g.GameState, gsTitleScroll);
    rig.Tick(1);
    EXPECT_EQ(g.TitleScroll.Row, 50);
    EXPECT_EQ(g.GameState, gsTitleIdle);
    EXPECT_EQ(g.TitleScroll.NextDue, 100 + 380);
    rig.Tick(380);
    EXPECT_EQ(g.GameState, gsTitleIdle);
    rig.Tick(1);  // clock 481 > 480
    EXPECT_EQ(g.GameState, gsDemo);
    EXPECT_EQ(g.GameMode, gmDemo);
    EXPECT_EQ(g.SavedMode, gmOnePlayer);
}

TEST(Title, StartIsIgnoredWhileScrollingAndTakenWhenIdle) {
    Started rig;
    Game& g = rig.g();
    rig.Press(32);
    rig.Tick(50);
    EXPECT_EQ(g.GameState, gsTitleScroll);
    rig.Tick(50);  // the picture arrives; Start is read from the next tick on
    EXPECT_EQ(g.GameState, gsTitleIdle);
    rig.Tick(1);
    EXPECT_EQ(g.GameState, gsStageIntro);
    EXPECT_EQ(g.soundsPlayed[sfxStageStart], 1u);
    rig.Release(32);
    rig.Tick(5);
    EXPECT_EQ(g.GameState, gsStageIntro);
    rig.input.SetJoyState(4, true);  // a joystick Start works too once bound
    g.Settings.joystick1[Start] = 4;
    rig.Tick(1);
    EXPECT_EQ(g.GameState, gsPlay);
    EXPECT_EQ(g.GameMode, gmOnePlayer);
    EXPECT_FALSE(g.NewGamePending);
}

TEST(Title, ThePictureRisesOneRowEveryTwoTicks) {
    Started rig;
    Game& g = rig.g();
    rig.Tick(1);
    EXPECT_EQ(g.TitleScroll.Row, 100);
    rig.Tick(1);
    EXPECT_EQ(g.TitleScroll.Row, 99);
    // The title is drawn at column 60 of the frame, at the row it had when drawn.
    EXPECT_EQ(g.FrameScreen.At(60, 100), 4);
    EXPECT_EQ(g.FrameScreen.At(59, 100), 0);
}

TEST(Pause, GuardRefusesTogglesWithin500Milliseconds) {
    Started rig;
    Game& g = rig.g();
    rig.clock.now = 1000;
    TogglePause(g);
    EXPECT_TRUE(g.Paused);
    rig.clock.now = 1499;
    TogglePause(g);
    EXPECT_TRUE(g.Paused);
    rig.clock.now = 1500;
    TogglePause(g);
    EXPECT_FALSE(g.Paused);
}

TEST(Pause, HeldPauseKeyTogglesAboutTwiceASecondAndStopsTheClock) {
    Started rig;
    Game& g = rig.g();
    ClickMenu(g, "MStart1Player");
    rig.Press(32);
    rig.Tick(1);
    rig.Release(32);
    ASSERT_EQ(g.GameState, gsPlay);
    rig.Press(80);
    int toggles = 0;
    bool last = g.Paused;
    for (int i = 0; i < 77; ++i) {  // one second of ticks
        rig.Tick(1);
        toggles += g.Paused != last;
        last = g.Paused;
    }
    EXPECT_EQ(toggles, 2);
    rig.Release(80);
    const int32_t clock = g.GameClock;
    if (!g.Paused) ClickMenu(g, "PauseOnOffP1");
    rig.clock.now += 1000;
    ClickMenu(g, "PauseOnOffP1");  // from the menu, subject to the same guard
    ClickMenu(g, "PauseOnOffP1");
    rig.Tick(10);
    EXPECT_TRUE(g.Paused || g.GameClock > clock);
}

TEST(Pause, TitleScrollWaitsWhilePaused) {
    Started rig;
    Game& g = rig.g();
    rig.Tick(10);
    ClickMenu(g, "PauseOnOffP1");
    const int32_t row = g.TitleScroll.Row;
    rig.Tick(50);
    EXPECT_EQ(g.TitleScroll.Row, row);
    EXPECT_EQ(g.GameClock, 10);
}

TEST(Demo, EscOrStartReturnsToTheTitleWithTheSavedMode) {
    Started rig;
    Game& g = rig.g();
    g.GameMode = gmDuel;
    ClickMenu(g, "MDemo");
    EXPECT_EQ(g.GameState, gsDemo);
    rig.Tick(20);
    FormKeyDown(g, 27, false);
    rig.Tick(1);
    EXPECT_EQ(g.GameState, gsTitleScroll);
    EXPECT_EQ(g.GameMode, gmDuel);

    ClickMenu(g, "MDemo");
    rig.Press(32);
    rig.Tick(1);
    EXPECT_EQ(g.GameState, gsTitleScroll);
    EXPECT_EQ(g.GameMode, gmDuel);
}

TEST(Demo, StartingTheDemoTwiceOrLeavingThroughTheEditorKeepsAPlayableMode) {
    Started rig;
    Game& g = rig.g();
    g.GameMode = gmTwoPlayers;
    ClickMenu(g, "MDemo");
    ClickMenu(g, "MDemo");
    FormKeyDown(g, 27, false);
    rig.Tick(1);
    EXPECT_EQ(g.GameMode, gmTwoPlayers);

    ClickMenu(g, "MDemo");
    ClickMenu(g, "MLevelEditor");
    EXPECT_EQ(g.GameState, gsLevelEditor);
    EXPECT_EQ(g.GameMode, gmTwoPlayers);
}

TEST(Keys, TakeLastKeyResetsToACodeNoKeyHas) {
    Started rig;
    Game& g = rig.g();
    EXPECT_EQ(g.LastKeyDown, 0);
    FormKeyDown(g, 65, false);
    EXPECT_EQ(TakeLastKey(g), 65);
    EXPECT_EQ(TakeLastKey(g), 1976);
    // Without Alt a key changes nothing but LastKeyDown.
    FormKeyDown(g, 13, false);
    EXPECT_FALSE(rig.window.fullScreen);
    FormKeyDown(g, 13, true);
    EXPECT_TRUE(rig.window.fullScreen);
    EXPECT_TRUE(g.Settings.fullScreen);
    FormKeyDown(g, '1', true);
    EXPECT_TRUE(g.Settings.smallScreen);
    EXPECT_EQ(rig.window.modeWidth, 320);
    EXPECT_TRUE(rig.window.fullScreen);  // the size changes, full screen stays
    FormKeyDown(g, '2', true);
    EXPECT_EQ(rig.window.modeHeight, 400);
    EXPECT_EQ(g.WorkBitmap.width, 640);
}

TEST(Starts, EnemyLimitFollowsModeAndDifficulty) {
    struct Case {
        const char* item;
        int difficulty;
        int limit;
    };
    for (Case c :
         {Case{"MStart1Player", 0, 4}, Case{"MStart1Player", 1, 6}, Case{"MStart1Player", 3, 8},
          Case{"MStart2Player", 0, 6}, Case{"MStartDuel", 2, 8}, Case{"MStartDuel", 3, 10}}) {
        Started rig;
        Game& g = rig.g();
        g.Settings.gameDifficulty = c.difficulty;
        DeriveSettings(g);
        ClickMenu(g, c.item);
        EXPECT_EQ(g.GameState, gsStageIntro);
        EXPECT_EQ(g.StageNumber, 1);
        StartStage(g);
        EXPECT_EQ(g.EnemyLimit, c.limit) << c.item << " " << c.difficulty;
        EXPECT_EQ(g.GameState, gsPlay);
    }
}

TEST(Starts, StageIntroShowsTheStageNumber) {
    Started rig;
    Game& g = rig.g();
    g.StageNumber = 7;
    StartGame(g);
    EXPECT_EQ(g.SelectLevel.position, 7);
    rig.Tick(2);
    int ink = 0;
    for (int x = 128; x < 200; ++x) ink += g.FrameScreen.At(x, 100) == 15;
    EXPECT_GT(ink, 10);
}

TEST(PaletteType, SwitchesTableBitmapAndCheckMark) {
    Started rig;
    Game& g = rig.g();
    const uint16_t before = g.PixelTable[200];
    ClickMenu(g, "PaletteType");
    EXPECT_TRUE(g.Settings.paletteType);
    EXPECT_TRUE(rig.window.paletteChecked);
    EXPECT_TRUE(g.WorkBitmap.rgb565);
    PixelTable expected{};
    BuildPixelTable(g.GamePalette, true, expected);
    EXPECT_EQ(g.PixelTable, expected);
    EXPECT_NE(g.PixelTable[200], before);
}

TEST(RandomNumbers, OneSequenceFromSeedZero) {
    testkit::Rig rig, other;
    Game& g = rig.g();
    EXPECT_EQ(Random(g, 100), 0);  // seed 1
    EXPECT_EQ(Random(g, 100), 3);  // seed 134775814: 100 * seed / 2^32
    EXPECT_EQ(g.RandSeed, 134775814u);
    EXPECT_EQ(Random(g, 1000), int((1000ull * (134775814u * 134775813u + 1u)) >> 32));
    // Every game draws the same numbers: there is no reseeding.
    std::vector<int> a, b;
    for (int i = 0; i < 50; ++i) a.push_back(Random(g, 7));
    for (int i = 0; i < 53; ++i) b.push_back(Random(other.g(), 7));
    EXPECT_EQ(a, std::vector<int>(b.begin() + 3, b.end()));
    for (int v : a) EXPECT_TRUE(v >= 0 && v < 7);
}
