// The enemy reserve: the first three tanks, arrivals into free slots, the stage clear, the side
// panel and the animated tiles.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "core/field/enemy.h"
#include "core/field/map.h"
#include "core/field/reserve.h"
#include "core/flow/game_flow.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "core/screen/screen.h"
#include "testkit/testkit.h"

using namespace kdv;

namespace {

// An empty stage with empty slots, the clock at 1000 and a line-up in which entry k is of kind k
// mod 8.
struct Stage : testkit::Rig {
    Game& g;

    Stage() : g(*game) {
        InstallStandardData();
        EXPECT_TRUE(StartUp());
        g.MapGrid.fill(0);
        BuildBackground(g);
        CopyToFrame(g.FrameScreen, g.BackScreen);
        for (int k = 1; k <= 20; ++k) g.EnemyLineup[size_t(k)] = uint8_t(k % 8);
        for (EnemyTank& tank : g.enemies) ResetEnemySlot(tank);
        g.GameClock = 1000;
    }

    void StepUntil(int32_t clock) {
        while (g.GameClock < clock) {
            ++g.GameClock;
            ReserveStep(g);
        }
    }

    // A tank in play in the slot, as its entry star leaves it.
    void InPlay(int slot) {
        EnemyTank& tank = g.Enemy(slot);
        tank.entering = false;
        tank.alive = true;
    }
    void Gone(int slot) {
        EnemyTank& tank = g.Enemy(slot);
        ResetEnemySlot(tank);
    }
};

}  // namespace

TEST(ReserveStart, FirstThreeTanksFromTheEndOfTheLineup) {
    Stage s;
    s.g.EnemyLineup[20] = 7;
    StartReserve(s.g);
    const EnemyReserve& r = s.g.EnemyReserve;
    EXPECT_EQ(r.remaining, 17);
    EXPECT_EQ(r.nextPlace, 1);
    EXPECT_FALSE(r.StageWon);
    EXPECT_EQ(r.nextArrivalTick, 1500);
    const int xs[] = {16, 112, 208};
    const uint8_t kinds[] = {7, 19 % 8, 18 % 8};
    for (int slot = 1; slot <= 3; ++slot) {
        const EnemyTank& tank = s.g.Enemy(slot);
        SCOPED_TRACE(slot);
        EXPECT_TRUE(tank.entering);
        EXPECT_EQ(tank.x, xs[slot - 1]);
        EXPECT_EQ(tank.y, 4);
        EXPECT_EQ(tank.kind, kinds[slot - 1]);
        EXPECT_EQ(tank.spriteBase, 32);
    }
    EXPECT_FALSE(s.g.Enemy(4).entering);
    EXPECT_EQ(s.g.Enemy(1).armour, 4);  // the kind decides the rest of the tank
}

TEST(ReserveArrivals, PlacesTurnLeftMiddleRightEvery500Ticks) {
    Stage s;
    s.g.EnemyLimit = 10;
    StartReserve(s.g);
    for (int slot = 1; slot <= 3; ++slot) s.InPlay(slot);
    const int xs[] = {16, 112, 208, 16};
    for (int n = 0; n < 4; ++n) {
        const int slot = 4 + n;
        s.StepUntil(1499 + 500 * n);
        EXPECT_FALSE(s.g.Enemy(slot).entering);
        s.StepUntil(1500 + 500 * n);
        SCOPED_TRACE(slot);
        EXPECT_TRUE(s.g.Enemy(slot).entering);
        EXPECT_EQ(s.g.Enemy(slot).x, xs[n]);
        EXPECT_EQ(s.g.Enemy(slot).kind, (17 - n) % 8);
        EXPECT_EQ(s.g.EnemyReserve.remaining, 16 - n);
        s.InPlay(slot);
    }
}

TEST(ReserveArrivals, FullFieldHoldsTheArrivalUntilASlotIsFree) {
    Stage s;
    s.g.EnemyLimit = 4;
    StartReserve(s.g);
    for (int slot = 1; slot <= 3; ++slot) s.InPlay(slot);
    s.StepUntil(1500);
    ASSERT_TRUE(s.g.Enemy(4).entering);
    s.InPlay(4);

    // Due from 2000 on, but four tanks are in play; slot 5 lies beyond the limit.
    s.StepUntil(2300);
    EXPECT_EQ(s.g.EnemyReserve.remaining, 16);
    EXPECT_FALSE(s.g.Enemy(5).entering);

    // Destroyed, but exploding with its last bullet still out: the slot is still taken.
    EnemyTank& two = s.g.Enemy(2);
    two.alive = false;
    two.explosion.active = true;
    two.bullet.done = false;
    s.StepUntil(2372);
    two.explosion.active = false;
    s.StepUntil(2399);
    EXPECT_EQ(s.g.EnemyReserve.remaining, 16);

    two.bullet.done = true;
    s.StepUntil(2400);
    EXPECT_TRUE(two.entering);
    EXPECT_EQ(two.x, 112);  // the second place after the fourth tank took the first
    EXPECT_EQ(two.kind, 16 % 8);
    EXPECT_EQ(s.g.EnemyReserve.remaining, 15);
    EXPECT_EQ(s.g.EnemyReserve.nextArrivalTick, 2900);

    // The other way round: the bullet is spent but the explosion still runs.
    s.InPlay(2);
    EnemyTank& three = s.g.Enemy(3);
    three.alive = false;
    three.explosion.active = true;
    s.StepUntil(3000);
    EXPECT_EQ(s.g.EnemyReserve.remaining, 15);
    three.explosion.active = false;
    s.StepUntil(3001);
    EXPECT_TRUE(three.entering);
    EXPECT_EQ(s.g.EnemyReserve.remaining, 14);
}

TEST(ReserveArrivals, ATankShowingItsStarKeepsItsSlot) {
    Stage s;
    s.g.EnemyLimit = 3;
    StartReserve(s.g);  // three stars, none alive yet
    s.StepUntil(1600);
    EXPECT_EQ(s.g.EnemyReserve.remaining, 17);
    EXPECT_EQ(s.g.Enemy(1).x, 16);
    s.Gone(3);
    s.StepUntil(1601);
    EXPECT_EQ(s.g.EnemyReserve.remaining, 16);
    EXPECT_TRUE(s.g.Enemy(3).entering);
    EXPECT_EQ(s.g.Enemy(3).x, 16);
}

TEST(StageClear, EndsTheStage500TicksAfterTheLastTankIsGone) {
    Stage s;
    s.g.EnemyLimit = 4;
    StartReserve(s.g);
    s.g.EnemyReserve.remaining = 0;
    s.InPlay(1);
    s.Gone(2);
    s.Gone(3);
    s.StepUntil(1100);
    EXPECT_FALSE(s.g.EnemyReserve.StageWon);

    // The last tank is destroyed: its explosion does not hold the clear back.
    s.g.Enemy(1).alive = false;
    s.g.Enemy(1).explosion.active = true;
    s.StepUntil(1101);
    EXPECT_TRUE(s.g.EnemyReserve.StageWon);
    EXPECT_EQ(s.g.EnemyReserve.clearTick, 1601);
    s.StepUntil(1600);
    EXPECT_FALSE(s.g.StageEnded);
    s.StepUntil(1601);
    EXPECT_TRUE(s.g.StageEnded);
}

TEST(StageClear, NotWhileATankIsEnteringNorWhenEveryPlayerIsLocked) {
    Stage s;
    s.g.EnemyLimit = 4;
    StartReserve(s.g);
    s.g.EnemyReserve.remaining = 0;
    s.Gone(1);
    s.Gone(2);
    s.StepUntil(1200);
    EXPECT_FALSE(s.g.EnemyReserve.StageWon);  // slot 3 still shows its star

    s.Gone(3);
    s.g.Player(1).locked = true;
    s.g.Player(2).locked = true;
    s.StepUntil(3000);
    EXPECT_FALSE(s.g.EnemyReserve.StageWon);
    EXPECT_FALSE(s.g.StageEnded);

    s.g.Player(2).locked = false;  // one player still in play is enough
    s.StepUntil(3001);
    EXPECT_TRUE(s.g.EnemyReserve.StageWon);
    EXPECT_EQ(s.g.EnemyReserve.clearTick, 3501);
}

TEST(ReservePanel, IconsShowTheTanksStillToComeTwoAbreast) {
    Stage s;
    // Tell the four kind icons apart: sprite 32 + 8c is solid colour 100 + c.
    for (int c = 0; c < 4; ++c)
        std::fill_n(s.g.SpriteSheet.begin() + (32 + 8 * c) * 256, 256, uint8_t(100 + c));
    NoteSpriteSheet(s.g);
    auto iconAt = [&](int k) {
        return s.g.FrameScreen.At(k % 2 == 1 ? 240 : 272, 6 + 17 * ((k - 1) / 2));
    };
    auto expected = [](int k) { return 100 + k % 4 + (k % 8 >= 4 ? 16 : 0); };

    StartReserve(s.g);
    DrawReserveIcons(s.g);
    for (int k = 1; k <= 17; ++k) EXPECT_EQ(iconAt(k), expected(k)) << k;
    for (int k = 18; k <= 20; ++k) EXPECT_NE(iconAt(k), expected(k)) << k;
    // The icon drawn last, entry 17, is the next tank to arrive; it leaves the panel with it.
    s.g.EnemyLimit = 4;
    s.StepUntil(1500);
    EXPECT_EQ(s.g.Enemy(4).kind, 17 % 8);
    CopyToFrame(s.g.FrameScreen, s.g.BackScreen);
    DrawReserveIcons(s.g);
    EXPECT_EQ(iconAt(16), expected(16));
    EXPECT_EQ(iconAt(17), 0);
}

TEST(ReservePanel, LivesCountersOfEachPlayer) {
    Stage s;
    s.g.Player(1).lives = 3;
    s.g.Player(2).lives = 10;
    DrawLivesCounter(s.g, 1);
    EXPECT_EQ(s.g.FrameScreen.At(240, 164), 133);
    EXPECT_EQ(s.g.FrameScreen.At(240, 180), 0);  // player 2's counter only when asked for
    // " X 3": 'X' at 266, '3' at 278; every glyph of the test font is ink in columns 0..4.
    EXPECT_EQ(s.g.FrameScreen.At(266, 168), 15);
    EXPECT_EQ(s.g.FrameScreen.At(278, 175), 15);
    EXPECT_EQ(s.g.FrameScreen.At(284, 168), 0);

    DrawLivesCounter(s.g, 2);
    EXPECT_EQ(s.g.FrameScreen.At(240, 180), 133 + 64);
    EXPECT_EQ(s.g.FrameScreen.At(278, 184), 15);
    EXPECT_EQ(s.g.FrameScreen.At(284, 184), 15);  // two digits
    EXPECT_EQ(s.g.FrameScreen.At(290, 184), 0);
}

#ifdef KORDAVEL_ROOT
// A write over one piece of the held panel draws that piece again, and every piece that shares
// a block with it (icon 19 and player 1's counter), as drawing the whole panel again would.
TEST(ReservePanel, AWriteOverOnePieceShowsAsTheWholePanelDrawnAgain) {
    testkit::Rig quick, whole;
    for (testkit::Rig* rig : {&quick, &whole}) {
        Game& g = rig->g();
        rig->InstallDataFrom(std::string(KORDAVEL_ROOT) + "/data");
        ASSERT_TRUE(rig->StartUp());
        ClickMenu(g, "MStart1Player");
        StartStage(g);
        g.EnemyReserve.remaining = 20;
        // Icon 19 lets player 1's tank show through its left half where the two overlap.
        uint8_t* icon = g.SpriteSheet.data() + (32 + 8 * (g.EnemyLineup[19] % 4)) * 256;
        for (int row = 5; row < 16; ++row) std::fill_n(icon + row * 16, 8, uint8_t(255));
        NoteSpriteSheet(g);
        CopyToFrame(g.FrameScreen, g.BackScreen);
        DrawPanel(g, 1);
        CopyToFrame(g.FrameScreen, g.BackScreen);  // the panel is held from here on
        DrawPanel(g, 1);
        CopyToFrame(g.FrameScreen, g.BackScreen);
        g.FrameScreen.Set(230, 160, 7);  // a block of icon 19 alone
    }
    whole.g().FrameScreen.DropCaches();
    DrawPanel(quick.g(), 1);
    DrawPanel(whole.g(), 1);
    EXPECT_EQ(quick.g().FrameScreen.Bytes(), whole.g().FrameScreen.Bytes());
    EXPECT_EQ(quick.g().FrameScreen.At(230, 160), 7);
}
#endif

TEST(TileAnimation, AnimatedCellsAlternateEvery128TicksStartingWith76) {
    Stage s;
    s.g.MapGrid[size_t(2 * kMapRows + 3)] = 13;
    s.g.MapGrid[size_t(12 * kMapRows + 11)] = 13;
    s.g.MapGrid[size_t(4 * kMapRows + 4)] = 2;
    BuildBackground(s.g);
    StartReserve(s.g);
    auto cell = [&](int column, int row) {
        return s.g.BackScreen.At(CellX(column) + 5, CellY(row) + 5);
    };
    // Blank the cells to see when they are drawn again.
    FillBackRect(s.g.BackScreen, CellX(2), CellY(3), CellX(2) + 15, CellY(3) + 15, 0);
    FillBackRect(s.g.BackScreen, CellX(12), CellY(11), CellX(12) + 15, CellY(11) + 15, 0);
    auto step = [&](int32_t until) {
        while (s.g.GameClock < until) {
            ++s.g.GameClock;
            TileAnimationStep(s.g);
        }
    };
    step(1127);
    EXPECT_EQ(cell(2, 3), 0);
    step(1128);
    EXPECT_EQ(cell(2, 3), 1);  // sprite 76
    EXPECT_EQ(cell(12, 11), 1);
    EXPECT_EQ(cell(4, 4), 4);  // other tiles (brick here) are left alone
    step(1255);
    EXPECT_EQ(cell(2, 3), 1);
    step(1256);
    EXPECT_EQ(cell(2, 3), 9);  // sprite 77
    step(1384);
    EXPECT_EQ(cell(2, 3), 1);

    // A late step counts the next period from when it ran.
    s.g.GameClock = 1600;
    TileAnimationStep(s.g);
    EXPECT_EQ(s.g.TileAnimation.nextToggleTick, 1728);
}

TEST(ReserveInPlay, AOnePlayerStageSendsItsTanksDownTheField) {
    Stage s;
    ClickMenu(s.g, "MStart1Player");
    s.Press(32);
    s.Tick(1);
    s.Release(32);
    Game& g = s.g;
    ASSERT_EQ(g.GameState, gsPlay);
    const int32_t start = g.GameClock;
    s.Tick(1);
    EXPECT_EQ(g.FrameScreen.At(16, 4), 70);  // three entry stars
    EXPECT_EQ(g.FrameScreen.At(112, 4), 70);
    EXPECT_EQ(g.FrameScreen.At(208, 4), 70);
    EXPECT_EQ(g.FrameScreen.At(240, 6 + 17 * 8), 68);  // 17 icons
    EXPECT_EQ(g.FrameScreen.At(272, 6 + 17 * 8), 0);
    EXPECT_EQ(g.FrameScreen.At(240, 180), 0);  // no second lives counter in a one-player game

    s.Tick(start + 4 + 7 * 32 - g.GameClock);
    for (int slot = 1; slot <= 3; ++slot) EXPECT_TRUE(g.Enemy(slot).alive) << slot;
    s.Tick(start + 499 - g.GameClock);
    EXPECT_FALSE(g.Enemy(4).entering);
    s.Tick(1);
    EXPECT_TRUE(g.Enemy(4).entering);
    EXPECT_EQ(g.Enemy(4).x, 16);
    EXPECT_EQ(g.EnemyReserve.remaining, 16);
    // The first three have left their places by now.
    const int xs[] = {16, 112, 208};
    for (int slot = 1; slot <= 3; ++slot)
        EXPECT_TRUE(g.Enemy(slot).x != xs[slot - 1] || g.Enemy(slot).y != 4) << slot;
}
