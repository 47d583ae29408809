// Between stages (the score tally and the stage counter) and the level editor.
#include <gtest/gtest.h>

#include "core/field/map.h"
#include "core/flow/editor.h"
#include "core/flow/game_flow.h"
#include "core/flow/main_form.h"
#include "core/flow/tally.h"
#include "core/game.h"
#include "testkit/started.h"
#include "testkit/testkit.h"

using namespace kdv;

namespace {

using Started = testkit::StartedRig;

}  // namespace

TEST(Tally, TwoPlayerBonusOnceAndTheNextStage) {
    Started rig;
    Game& g = rig.g();
    ClickMenu(g, "MStart2Player");
    StartStage(g);
    g.Player(1).kills = {2, 1, 1, 1};
    g.Player(2).kills = {3, 0, 0, 0};
    g.Player(1).score = 1500;
    g.EnemyReserve.StageWon = true;
    StartTally(g, true);
    EXPECT_EQ(g.GameState, gsTallyTwoPlayers);
    rig.Tick(76 * 4 + 4);  // four rows, a second each
    EXPECT_EQ(g.Tally.phase, 5);
    EXPECT_EQ(g.Tally.total1, 5);
    EXPECT_EQ(g.Tally.total2, 3);
    EXPECT_EQ(g.Player(1).score, 2500);
    EXPECT_EQ(g.soundsPlayed[sfxClank], 4u);
    rig.Tick(76 * 3 + 4);
    EXPECT_EQ(g.Player(1).score, 2500);
    EXPECT_EQ(g.GameState, gsStageIntro);
    EXPECT_EQ(g.StageNumber, 2);
}

TEST(Tally, EscEndsAtOnceAndALostStageIsShownAgain) {
    Started rig;
    Game& g = rig.g();
    ClickMenu(g, "MStart1Player");
    StartStage(g);
    g.EnemyReserve.StageWon = false;
    StartTally(g, false);
    rig.Tick(3);
    FormKeyDown(g, 27, false);
    rig.Tick(1);
    EXPECT_EQ(g.GameState, gsStageIntro);
    EXPECT_EQ(g.StageNumber, 1);
}

TEST(Tally, StageCounterWrapsAtTheLastStage) {
    Started rig(36);
    Game& g = rig.g();
    EXPECT_EQ(g.LevelCount, 35);
    g.StageNumber = 35;
    NextStage(g);
    EXPECT_EQ(g.StageNumber, 1);
    Started one(1);
    EXPECT_EQ(one.g().LevelCount, 0);
    NextStage(one.g());
    EXPECT_EQ(one.g().StageNumber, 1);
    EXPECT_EQ(PadText("7", 2, ' ', true), " 7");
    EXPECT_EQ(PadText("123456", 6, ' ', true), "123456");
    EXPECT_EQ(PadText("1234567", 6, ' ', true), "1234567");
    EXPECT_EQ(PadText("7", 3, '.', false), "7..");
}

TEST(Editor, EscAppendsOneRecordWithTheFixedLineUp) {
    Started rig;
    Game& g = rig.g();
    const size_t before = rig.files.files["data/lswap.dat"].size();
    ClickMenu(g, "MLevelEditor");
    for (int i = 0; i < 20; ++i) FormKeyDown(g, 39, false), rig.Tick(1);
    EXPECT_EQ(g.Editor.column, 12);
    FormKeyDown(g, 38, false);  // row 0: up does nothing
    rig.Tick(1);
    EXPECT_EQ(g.Editor.row, 0);
    for (int i = 0; i < 14; ++i) FormKeyDown(g, 32, false), rig.Tick(1);
    EXPECT_EQ(g.Editor.wallKind, 1);
    FormKeyDown(g, 13, false);
    rig.Tick(1);
    FormKeyDown(g, 27, false);
    rig.Tick(1);
    EXPECT_EQ(g.GameState, gsTitleScroll);
    const auto& file = rig.files.files["data/lswap.dat"];
    ASSERT_EQ(file.size(), before + 176);
    EXPECT_EQ(file[before + 12 * 12 + 0], 1);  // the second base, at column 12, row 0
    EXPECT_EQ(file[before + 6 * 12 + 11], 1);
    const std::vector<uint8_t> lineup(file.end() - 20, file.end());
    EXPECT_EQ(lineup,
              (std::vector<uint8_t>{0, 0, 4, 0, 0, 0, 4, 0, 0, 0, 0, 1, 0, 5, 0, 0, 3, 3, 3, 7}));
}

TEST(Editor, AReadOnlyLevelFileKeepsTheMapInTheEditor) {
    Started rig;
    Game& g = rig.g();
    rig.files.readOnly.insert("data/lswap.dat");
    const auto before = rig.files.files["data/lswap.dat"];
    ClickMenu(g, "MLevelEditor");
    FormKeyDown(g, 13, false);  // a base at (0, 0)
    rig.Tick(1);
    FormKeyDown(g, 27, false);
    rig.Tick(1);
    EXPECT_EQ(g.GameState, gsLevelEditor);
    EXPECT_FALSE(rig.window.failed);
    ASSERT_EQ(rig.window.messages.size(), 1u);
    EXPECT_NE(rig.window.messages[0].find("not saved"), std::string::npos);
    EXPECT_EQ(rig.files.files["data/lswap.dat"], before);
    EXPECT_EQ(g.MapGrid[0], 1);
    rig.files.readOnly.clear();  // once it can be written, Esc saves
    FormKeyDown(g, 27, false);
    rig.Tick(1);
    EXPECT_EQ(rig.files.files["data/lswap.dat"].size(), before.size() + 176);
}

// Esc leaves the editor before the rest of its frame: the title that follows starts on a clean
// background, with no repaint of the edited map into it (even when the cursor's blink falls due
// in the same tick) and no frame of help texts on an empty field in between.
TEST(Editor, EscLeavesBeforeTheRestOfTheFrame) {
    Started rig;
    Game& g = rig.g();
    ClickMenu(g, "MLevelEditor");
    FormKeyDown(g, 13, false);  // a base at (0, 0)
    rig.Tick(1);
    g.Editor.nextBlink = g.GameClock;  // the blink is due with the Esc
    const uint8_t toggle = g.PresentToggle;
    FormKeyDown(g, 27, false);
    rig.Tick(1);
    EXPECT_EQ(g.GameState, gsTitleScroll);
    EXPECT_EQ(g.PresentToggle, toggle) << "a frame was presented after leaving the editor";
    int drawn = 0;  // the field, where the editor paints its map
    for (int y = CellY(0); y < CellY(kMapRows); ++y)
        for (int x = CellX(0); x < CellX(kMapColumns); ++x) drawn += g.BackScreen.At(x, y) != 0;
    EXPECT_EQ(drawn, 0) << "the editor drew into the title's background";
}
