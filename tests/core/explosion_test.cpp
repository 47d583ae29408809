// Explosions, the fall of the base, the "GAME OVER" captions and the game-over rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "core/field/explosion.h"
#include "core/flow/game_flow.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "testkit/testkit.h"

using namespace kdv;

namespace {

struct Started : testkit::Rig {
    Started() {
        InstallStandardData();
        EXPECT_TRUE(StartUp());
    }

    // A stage in play in the mode of the menu item, with both players still in the game
    // whatever the tank code has set up.
    Game& Play(const char* menuItem) {
        Game& game = g();
        ClickMenu(game, menuItem);
        StartStage(game);
        game.Player(1).mayRespawn = game.Player(2).mayRespawn = true;
        return game;
    }
};

// Each explosion picture in a colour equal to its sprite number, so the frame tells which one
// was drawn.
void NumberExplosionSprites(Game& g) {
    for (int s = 88; s <= 93; ++s)
        std::fill_n(g.SpriteSheet.begin() + s * kSpriteBytes, kSpriteBytes, uint8_t(s));
}

// The test font's "G" has ink from its first column on every row, so a caption drawn at (x, y)
// shows colour 12 at (x, y) and nothing in the column before it.
bool CaptionAt(const Game& g, int x, int y) {
    return g.FrameScreen.At(x, y) == 12 && g.FrameScreen.At(x - 1, y) != 12;
}

}  // namespace

TEST(Explosion, ShowsSixPicturesTwelveTicksEachThenEnds) {
    Started rig;
    Game& g = rig.g();
    NumberExplosionSprites(g);
    g.GameClock = 1000;
    Explosion e;
    StartExplosion(g, e, 40, 60);
    EXPECT_TRUE(e.active);
    EXPECT_EQ(e.nextFrameTick, 1012);

    // Started during the frame's bullet step, it is drawn in the same frame (clock 1000).
    std::vector<int> drawn;
    for (; g.GameClock <= 1080; ++g.GameClock) {
        FillScreen(g.FrameScreen, 0);
        ExplosionStep(g, e);
        drawn.push_back(g.FrameScreen.At(47, 67));
        if (!e.active) break;
    }
    std::vector<int> expected(13, 88);
    for (int s = 89; s <= 93; ++s) expected.insert(expected.end(), 12, s);
    EXPECT_EQ(drawn, expected);
    EXPECT_EQ(g.GameClock, 1072);  // 72 ticks after the start
    EXPECT_FALSE(e.active);

    FillScreen(g.FrameScreen, 0);
    ExplosionStep(g, e);
    EXPECT_EQ(g.FrameScreen.At(47, 67), 0);
}

TEST(Explosion, RestartBeginsAtTheFirstPictureAtTheNewPlace) {
    Started rig;
    Game& g = rig.g();
    NumberExplosionSprites(g);
    Explosion e;
    g.GameClock = 10;
    StartExplosion(g, e, 40, 60);
    for (; g.GameClock < 50; ++g.GameClock) ExplosionStep(g, e);
    ASSERT_TRUE(e.active);
    ASSERT_LT(e.framesLeft, 6);

    StartExplosion(g, e, 100, 20);
    FillScreen(g.FrameScreen, 0);
    ExplosionStep(g, e);
    EXPECT_EQ(g.FrameScreen.At(100, 20), 88);
    EXPECT_EQ(g.FrameScreen.At(40, 60), 0);
    EXPECT_EQ(e.nextFrameTick, 62);
}

TEST(Explosion, StartJoltsTheJoystickWhenForceFeedbackIsOn) {
    Started rig;
    Game& g = rig.g();
    Explosion e;
    StartExplosion(g, e, 0, 0);
    EXPECT_TRUE(rig.input.jolts.empty());
    g.Settings.forceFeedback = true;
    StartExplosion(g, e, 300, 180);
    ASSERT_EQ(rig.input.jolts.size(), 1u);
    EXPECT_GT(rig.input.jolts[0].fx, 0);  // to the right of the centre
}

TEST(BaseFalls, LocksBothPlayersClearsTheStageWinAndEndsTheStage152TicksLater) {
    Started rig;
    Game& g = rig.g();
    g.GameClock = 500;
    g.EnemyReserve.StageWon = true;
    BaseFalls(g);
    const GameOverCaption& c = g.GameOverCaption.base;
    EXPECT_TRUE(c.active);
    EXPECT_EQ(c.x, 86);
    EXPECT_EQ(c.y, 188);
    EXPECT_EQ(c.endTick, 652);
    EXPECT_TRUE(g.Player(1).locked);
    EXPECT_TRUE(g.Player(2).locked);
    EXPECT_FALSE(g.EnemyReserve.StageWon);
    EXPECT_EQ(g.soundsPlayed[sfxBaseFalls], 1u);

    // Drawn where it stands, then one pixel up every tick until row 90.
    for (; g.GameClock < 651; ++g.GameClock) {
        FillScreen(g.FrameScreen, 0);
        const int y = c.y;
        BaseCaptionStep(g);
        ASSERT_TRUE(CaptionAt(g, 86, y)) << "clock " << g.GameClock;
        ASSERT_EQ(c.y, std::max(90, 188 - (g.GameClock - 500)));
    }
    EXPECT_FALSE(g.StageEnded);
    BaseCaptionStep(g);
    EXPECT_FALSE(g.StageEnded);
    ++g.GameClock;
    BaseCaptionStep(g);
    EXPECT_TRUE(g.StageEnded);
    EXPECT_FALSE(c.active);
}

TEST(BaseFalls, AHitDuringTheStageClearWaitStillLosesTheStage) {
    Started rig;
    Game& g = rig.g();
    rig.Play("MStart1Player");
    rig.Tick(5);
    // The last computer tank is gone and the clear wait runs well past the caption's end.
    g.EnemyReserve.StageWon = true;
    g.EnemyReserve.clearTick = g.GameClock + 400;
    BaseFalls(g);
    const int32_t fell = g.GameClock;
    rig.Tick(151);
    EXPECT_EQ(g.GameState, gsPlay);
    rig.Tick(1);
    EXPECT_EQ(g.GameClock, fell + 152);
    EXPECT_EQ(g.GameState, gsTallyOnePlayer);
    EXPECT_FALSE(g.EnemyReserve.StageWon);

    // After the tally the same stage comes again, as a new game.
    const int32_t stage = g.StageNumber;
    FormKeyDown(g, 27, false);
    rig.Tick(1);
    EXPECT_EQ(g.GameState, gsStageIntro);
    EXPECT_EQ(g.StageNumber, stage);
}

TEST(PlayerCaption, SlidesToItsLimitOnePixelEveryFourTicks) {
    Started rig;
    Game& g = rig.g();
    g.GameClock = 100;
    StartPlayerCaption(g, 1);
    StartPlayerCaption(g, 2);
    EXPECT_TRUE(g.Player(1).locked);
    EXPECT_TRUE(g.Player(2).locked);
    const GameOverCaption& c1 = g.GameOverCaption.player1;
    const GameOverCaption& c2 = g.GameOverCaption.player2;
    EXPECT_EQ(c1.x, 16);
    EXPECT_EQ(c2.x, 152);
    for (; g.GameClock <= 150; ++g.GameClock) {
        FillScreen(g.FrameScreen, 0);
        const int x1 = c1.x, x2 = c2.x;
        PlayerCaptionStep(g, 1);
        PlayerCaptionStep(g, 2);
        ASSERT_TRUE(CaptionAt(g, x1, 188));
        ASSERT_TRUE(CaptionAt(g, x2, 188));
        const int moves = (g.GameClock - 100) / 4;
        ASSERT_EQ(c1.x, std::min(26, 16 + moves)) << "clock " << g.GameClock;
        ASSERT_EQ(c2.x, std::max(144, 152 - moves)) << "clock " << g.GameClock;
        ASSERT_EQ(c1.y, 188);
    }
}

TEST(GameOverRules, TwoPlayersOneOutShowsAStillCaptionThenBothOutEndTheGame) {
    Started rig;
    Game& g = rig.Play("MStart2Player");
    g.Player(1).mayRespawn = false;
    rig.Tick(40);
    const GameOverCaption& c1 = g.GameOverCaption.player1;
    EXPECT_TRUE(c1.active);
    EXPECT_EQ(c1.x, 16);  // restarted every frame, so never due to move
    EXPECT_EQ(c1.y, 188);
    EXPECT_TRUE(CaptionAt(g, 16, 188));
    EXPECT_TRUE(g.Player(1).locked);
    EXPECT_FALSE(g.Player(2).locked);
    EXPECT_FALSE(g.GameOverCaption.player2.active);
    EXPECT_FALSE(g.GameOverCaption.base.active);

    g.Player(2).mayRespawn = false;
    rig.Tick(1);
    const int32_t fell = g.GameClock;
    EXPECT_TRUE(g.GameOverCaption.base.active);
    EXPECT_TRUE(g.GameOverCaption.player2.active);
    EXPECT_TRUE(g.Player(2).locked);
    EXPECT_EQ(g.soundsPlayed[sfxBaseFalls], 1u);  // started once, not every frame

    rig.Tick(41);
    EXPECT_EQ(c1.x, 26);
    EXPECT_EQ(g.GameOverCaption.player2.x, 144);
    EXPECT_EQ(g.GameOverCaption.base.y, 188 - 41);
    EXPECT_TRUE(CaptionAt(g, 26, 188));
    EXPECT_TRUE(CaptionAt(g, 86, 148));  // drawn before this frame's move

    rig.Tick(fell + 151 - g.GameClock);
    EXPECT_EQ(g.GameState, gsPlay);
    EXPECT_EQ(g.GameOverCaption.base.y, 90);
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
        EXPECT_FALSE(g.Player(1).locked);
    }
    {
        Started rig;
        Game& g = rig.Play("MStart1Player");
        rig.Tick(3);
        g.Player(1).mayRespawn = false;
        rig.Tick(1);
        const int32_t fell = g.GameClock;
        EXPECT_TRUE(g.GameOverCaption.player1.active);
        EXPECT_TRUE(g.GameOverCaption.base.active);
        EXPECT_EQ(g.GameOverCaption.base.endTick, fell + 152);
        EXPECT_TRUE(g.Player(1).locked);
        rig.Tick(152);
        EXPECT_EQ(g.GameState, gsTallyOnePlayer);
    }
    {  // in the two-player game one player out is not the end
        Started rig;
        Game& g = rig.Play("MStartDuel");
        g.Player(2).mayRespawn = false;
        rig.Tick(200);
        EXPECT_EQ(g.GameState, gsPlay);
        EXPECT_FALSE(g.GameOverCaption.base.active);
        EXPECT_TRUE(g.GameOverCaption.player2.active);
        EXPECT_EQ(g.GameOverCaption.player2.x, 152);
    }
}

TEST(GameOverRules, NothingStartsOnceTheStageHasEndedOrTheBaseHasFallen) {
    Started rig;
    Game& g = rig.g();
    g.Player(1).mayRespawn = g.Player(2).mayRespawn = false;
    g.StageEnded = true;
    ApplyGameOverRules(g, false);
    EXPECT_FALSE(g.GameOverCaption.base.active);
    EXPECT_FALSE(g.GameOverCaption.player1.active);
    EXPECT_FALSE(g.Player(1).locked);

    g.StageEnded = false;
    g.GameClock = 10;
    BaseFalls(g);
    g.GameClock = 30;
    ApplyGameOverRules(g, true);
    EXPECT_EQ(g.GameOverCaption.base.endTick, 10 + 152);  // not restarted
    EXPECT_FALSE(g.GameOverCaption.player1.active);

    ClearCaptions(g);
    EXPECT_FALSE(g.GameOverCaption.base.active);
}
