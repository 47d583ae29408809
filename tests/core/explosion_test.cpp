// Explosions, the fall of the base, the "GAME OVER" captions and the game-over rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "core/field/explosion.h"
#include "core/flow/game_flow.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "testkit/started.h"
#include "testkit/testkit.h"

using namespace kdv;

namespace {

struct Started : testkit::StartedRig {

    // A stage in play, both players still in the game whatever the tank code has set.
    Game& Play(const char* menuItem) {
        ClickMenu(g(), menuItem);
        StartStage(g());
        g().Player(1).mayRespawn = g().Player(2).mayRespawn = true;
        return g();
    }
};

// The test font's "G" has ink in its first column on every row, so a caption drawn at (x, y)
// shows colour 12 at (x, y) and not in the column before.
bool CaptionAt(const Game& g, int x, int y) {
    return g.FrameScreen.At(x, y) == 12 && g.FrameScreen.At(x - 1, y) != 12;
}

}  // namespace

TEST(Explosion, SixPicturesTwelveTicksEachAndARestartBeginsAgain) {
    Started rig;
    Game& g = rig.g();
    // Each picture in a colour equal to its sprite number, so the frame tells which was drawn.
    for (int s = 88; s <= 93; ++s)
        std::fill_n(g.SpriteSheet.begin() + s * kSpriteBytes, kSpriteBytes, uint8_t(s));
    NoteSpriteSheet(g);
    g.GameClock = 1000;
    Explosion e;
    StartExplosion(g, e, 40, 60);

    // Started in the frame's bullet step, it is drawn in that same frame.
    std::vector<int> drawn;
    for (; e.active; ++g.GameClock) {
        FillScreen(g.FrameScreen, 0);
        ExplosionStep(g, e);
        drawn.push_back(g.FrameScreen.At(47, 67));
    }
    std::vector<int> expected(13, 88);
    for (int s = 89; s <= 93; ++s) expected.insert(expected.end(), 12, s);
    EXPECT_EQ(drawn, expected);
    EXPECT_EQ(g.GameClock, 1073);  // ended by the step at 1072
    FillScreen(g.FrameScreen, 0);
    ExplosionStep(g, e);
    EXPECT_EQ(g.FrameScreen.At(47, 67), 0);

    StartExplosion(g, e, 40, 60);
    for (int i = 0; i < 30; ++i, ++g.GameClock) ExplosionStep(g, e);
    g.Settings.forceFeedback = true;
    StartExplosion(g, e, 100, 20);
    FillScreen(g.FrameScreen, 0);
    ExplosionStep(g, e);
    EXPECT_EQ(g.FrameScreen.At(100, 20), 88);
    EXPECT_EQ(g.FrameScreen.At(40, 60), 0);
    EXPECT_EQ(e.nextFrameTick, g.GameClock + 12);
    EXPECT_EQ(rig.input.jolts.size(), 1u);  // the first two starts had force feedback off
}

TEST(BaseFalls, CaptionRisesToRow90AndEndsTheStage152TicksLater) {
    Started rig;
    Game& g = rig.g();
    g.GameClock = 500;
    g.EnemyReserve.StageWon = true;
    BaseFalls(g);
    const GameOverCaption& c = g.GameOverCaption.base;
    EXPECT_TRUE(c.active);
    EXPECT_TRUE(g.Player(1).locked);
    EXPECT_TRUE(g.Player(2).locked);
    EXPECT_FALSE(g.EnemyReserve.StageWon);
    EXPECT_EQ(g.soundsPlayed[sfxBaseFalls], 1u);

    // Drawn where it stands, then one pixel up every tick until row 90.
    for (; g.GameClock < 652; ++g.GameClock) {
        FillScreen(g.FrameScreen, 0);
        const int y = c.y;
        BaseCaptionStep(g);
        ASSERT_TRUE(CaptionAt(g, 86, y)) << "clock " << g.GameClock;
        ASSERT_EQ(c.y, std::max(90, 188 - (g.GameClock - 500))) << "clock " << g.GameClock;
        ASSERT_FALSE(g.StageEnded);
    }
    BaseCaptionStep(g);
    EXPECT_TRUE(g.StageEnded);
    EXPECT_FALSE(c.active);
}

TEST(BaseFalls, AHitDuringTheStageClearWaitStillLosesTheStage) {
    Started rig;
    Game& g = rig.Play("MStart1Player");
    rig.Tick(5);
    g.EnemyReserve.StageWon = true;  // the last computer tank is gone
    g.EnemyReserve.clearTick = g.GameClock + 400;
    BaseFalls(g);
    const int32_t fell = g.GameClock;
    rig.Tick(151);
    EXPECT_EQ(g.GameState, gsPlay);
    rig.Tick(1);
    EXPECT_EQ(g.GameClock, fell + 152);
    EXPECT_EQ(g.GameState, gsTallyOnePlayer);
    EXPECT_FALSE(g.EnemyReserve.StageWon);

    const int32_t stage = g.StageNumber;
    FormKeyDown(g, 27, false);  // skip the tally: the same stage comes again
    rig.Tick(1);
    EXPECT_EQ(g.GameState, gsStageIntro);
    EXPECT_EQ(g.StageNumber, stage);
}

TEST(GameOverRules, TwoPlayersOneOutShowsAStillCaptionThenBothOutEndTheGame) {
    Started rig;
    Game& g = rig.Play("MStart2Player");
    const GameOverCaption& c1 = g.GameOverCaption.player1;
    const GameOverCaption& c2 = g.GameOverCaption.player2;
    g.Player(1).mayRespawn = false;
    rig.Tick(40);
    EXPECT_TRUE(c1.active);
    EXPECT_EQ(c1.x, 16);  // restarted every frame, so its move never comes
    EXPECT_TRUE(CaptionAt(g, 16, 188));
    EXPECT_TRUE(g.Player(1).locked);
    EXPECT_FALSE(g.Player(2).locked);
    EXPECT_FALSE(c2.active);
    EXPECT_FALSE(g.GameOverCaption.base.active);

    g.Player(2).mayRespawn = false;
    rig.Tick(1);
    const int32_t fell = g.GameClock;
    EXPECT_TRUE(g.GameOverCaption.base.active);
    EXPECT_TRUE(c2.active);
    EXPECT_TRUE(g.Player(2).locked);

    // One pixel every 4 ticks toward the limits: player 1 right to 26, player 2 left to 144.
    rig.Tick(20);
    EXPECT_EQ(c1.x, 21);
    EXPECT_EQ(c2.x, 147);
    rig.Tick(21);
    EXPECT_EQ(c1.x, 26);
    EXPECT_EQ(c2.x, 144);
    EXPECT_EQ(g.GameOverCaption.base.y, 188 - 41);
    EXPECT_TRUE(CaptionAt(g, 26, 188));
    EXPECT_TRUE(CaptionAt(g, 86, 148));           // drawn before this frame's move
    EXPECT_EQ(g.soundsPlayed[sfxBaseFalls], 1u);  // the rules start it once

    rig.Tick(fell + 151 - g.GameClock);
    EXPECT_EQ(c1.x, 26);
    EXPECT_EQ(g.GameState, gsPlay);
    rig.Tick(1);
    EXPECT_EQ(g.GameState, gsTallyTwoPlayers);
}

TEST(GameOverRules, OnePlayerGameEndsWhenPlayerOneIsOutWhateverPlayerTwoSays) {
    {
        Started rig;
        Game& g = rig.Play("MStart1Player");
        g.Player(2).mayRespawn = false;
        rig.Tick(10);
        EXPECT_FALSE(g.GameOverCaption.base.active);
        g.Player(2).mayRespawn = true;
        g.Player(1).mayRespawn = false;
        rig.Tick(1);
        EXPECT_TRUE(g.GameOverCaption.player1.active);
        EXPECT_EQ(g.GameOverCaption.base.endTick, g.GameClock + 152);
        rig.Tick(152);
        EXPECT_EQ(g.GameState, gsTallyOnePlayer);
    }
    {  // in the duel one player out is not the end
        Started rig;
        Game& g = rig.Play("MStartDuel");
        g.Player(2).mayRespawn = false;
        rig.Tick(200);
        EXPECT_EQ(g.GameState, gsPlay);
        EXPECT_FALSE(g.GameOverCaption.base.active);
        EXPECT_EQ(g.GameOverCaption.player2.x, 152);
    }
}

TEST(GameOverRules, NothingStartsAfterTheStageHasEndedOrTheBaseHasFallen) {
    Started rig;
    Game& g = rig.g();
    g.Player(1).mayRespawn = g.Player(2).mayRespawn = false;
    g.StageEnded = true;
    ApplyGameOverRules(g, false);
    EXPECT_FALSE(g.GameOverCaption.base.active);
    EXPECT_FALSE(g.GameOverCaption.player1.active);

    g.StageEnded = false;
    g.GameClock = 10;
    BaseFalls(g);
    g.GameClock = 30;
    ApplyGameOverRules(g, true);
    EXPECT_EQ(g.GameOverCaption.base.endTick, 10 + 152);
    EXPECT_FALSE(g.GameOverCaption.player1.active);
}
