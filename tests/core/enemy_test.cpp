// Computer tanks: the entry star, strides and grid points, turning, fire, freezing and hits.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "core/field/enemy.h"
#include "core/field/map.h"
#include "core/game.h"
#include "core/random.h"
#include "core/screen/screen.h"
#include "testkit/testkit.h"

using namespace kdv;

namespace {

constexpr uint8_t kUp = 1, kDown = 2, kLeft = 3, kRight = 4;
constexpr uint8_t kSteel = 17;

// An empty stage (frame only) with the clock at 1000.
struct Field : testkit::Rig {
    Game& g;

    Field() : g(*game) {
        InstallStandardData();
        EXPECT_TRUE(StartUp());
        g.MapGrid.fill(0);
        BuildBackground(g);
        CopyToFrame(g.FrameScreen, g.BackScreen);
        g.GameClock = 1000;
        g.RandSeed = 0;
    }

    // The tank part of a play frame: refill, draw every slot, then move every slot.
    void Frame() {
        ++g.GameClock;
        CopyToFrame(g.FrameScreen, g.BackScreen);
        for (EnemyTank& tank : g.enemies) DrawEnemy(g, tank);
        for (EnemyTank& tank : g.enemies) EnemyTick(g, tank);
    }
    void Frames(int n) {
        for (int i = 0; i < n; ++i) Frame();
    }

    // A tank as its entry star leaves it: alive, standing, first step due one period from now.
    EnemyTank& Arrived(int slot, int x, int y, uint8_t kind = 0) {
        EnemyTank& tank = g.Enemy(slot);
        SpawnEnemy(g, tank, x, y, 32, kind);
        tank.entering = false;
        tank.alive = true;
        tank.nextStepTick = g.GameClock + tank.stepPeriod;
        return tank;
    }

    // A tank past its first decision, starting a stride in its facing.
    EnemyTank& Driving(int slot, int x, int y, uint8_t facing, uint8_t kind = 0) {
        EnemyTank& tank = Arrived(slot, x, y, kind);
        tank.started = true;
        tank.facing = tank.moveDirection = facing;
        tank.mayTurn = false;
        return tank;
    }

    void Steel(int x1, int y1, int x2, int y2) {
        FillBackRect(g.BackScreen, x1, y1, x2, y2, kSteel);
    }

    // Chooses the smallest seed after which the draws made by `draws` satisfy it.
    void SeedWhere(const std::function<bool()>& draws) {
        for (uint32_t s = 0;; ++s) {
            g.RandSeed = s;
            const bool ok = draws();
            g.RandSeed = s;
            if (ok) return;
        }
    }
    // No 1-in-120 turn at the next n open-ground decisions.
    void NoRandomTurnFor(int n) {
        SeedWhere([&] {
            for (int i = 0; i < n; ++i)
                if (Random(g, 120) == 1) return false;
            return true;
        });
    }
};

}  // namespace

TEST(EnemyEntry, StarShowsForStepPeriodPlusSevenStarPeriods) {
    struct Case {
        uint8_t kind;
        int32_t starPeriod;
        int32_t stepPeriod;  // kinds 1 and 5 are the fast ones
    };
    for (Case c : {Case{4, 32, 4}, Case{1, 16, 2}, Case{5, 32, 2}, Case{7, 16, 4}}) {
        Field f;
        f.g.StarPeriod = c.starPeriod;
        EnemyTank& tank = f.g.Enemy(2);
        SpawnEnemy(f.g, tank, 112, 4, 32, c.kind);
        const int32_t spawn = f.g.GameClock;
        const int32_t aliveAt = spawn + c.stepPeriod + 7 * c.starPeriod;
        int32_t firstChange = 0;
        while (!tank.alive && f.g.GameClock < spawn + 1000) {
            f.Frame();
            // The star stands in the tank's square and blocks like any tank.
            const uint8_t star = f.g.FrameScreen.At(112, 4);
            EXPECT_TRUE(star == 70 || star == 71);
            if (star == 71 && firstChange == 0) firstChange = f.g.GameClock;
        }
        SCOPED_TRACE(int(c.kind));
        EXPECT_EQ(firstChange, spawn + c.stepPeriod);
        EXPECT_EQ(f.g.GameClock, aliveAt);
        EXPECT_FALSE(tank.entering);
        EXPECT_EQ(tank.starPeriod, c.starPeriod);
        EXPECT_EQ(tank.nextStepTick, aliveAt + c.stepPeriod);
        // From the next frame on the tank itself is drawn, bonus carriers shifted by 16.
        f.Frame();
        EXPECT_EQ(f.g.FrameScreen.At(112, 4), c.kind >= 4 ? 84 : 68);
    }
}

TEST(EnemyDrawing, SpriteFollowsFacingTrackAndKind) {
    Field f;
    // Tell the 32 computer-tank pictures apart: sprite n is solid colour n + 40.
    for (int n = 32; n < 64; ++n)
        std::fill_n(f.g.SpriteSheet.begin() + n * 256, 256, uint8_t(n + 40));
    NoteSpriteSheet(f.g);
    EnemyTank& tank = f.Arrived(1, 48, 36, 6);
    tank.facing = kLeft;
    tank.trackPhase = false;
    DrawEnemy(f.g, tank);
    // 32 + (3 - 1) + 4 + 8 * (6 mod 4) = 54, shifted by 16 as a bonus carrier.
    EXPECT_EQ(f.g.FrameScreen.At(48, 36), 54 + 40 + 16);
    EXPECT_EQ(f.g.FrameScreen.At(63, 51), 54 + 40 + 16);

    EnemyTank& plain = f.Arrived(2, 96, 36, 3);
    plain.facing = kUp;
    DrawEnemy(f.g, plain);
    EXPECT_EQ(f.g.FrameScreen.At(96, 36), 32 + 24 + 40);

    plain.alive = false;
    CopyToFrame(f.g.FrameScreen, f.g.BackScreen);
    DrawEnemy(f.g, plain);
    EXPECT_EQ(f.g.FrameScreen.At(96, 36), 0);
}

TEST(EnemyMovement, FirstDecisionTurnsDownAndStridesTakeNineStepPeriods) {
    Field f;
    f.NoRandomTurnFor(4);
    EnemyTank& tank = f.Arrived(1, 64, 4);
    tank.facing = kLeft;  // whatever it faced, the first decision is down
    const int32_t start = f.g.GameClock;
    const uint32_t seed = f.g.RandSeed;
    f.Frames(4);
    // The first decision also takes the 1-in-120 chance, so it draws once.
    const uint32_t after = f.g.RandSeed;
    f.g.RandSeed = seed;
    Random(f.g, 120);
    EXPECT_EQ(f.g.RandSeed, after);
    EXPECT_TRUE(tank.started);
    EXPECT_EQ(tank.moveDirection, kDown);
    EXPECT_EQ(tank.facing, kDown);
    EXPECT_EQ(tank.y, 4);

    // Three strides: eight one-pixel steps, then one step period standing at the grid point.
    std::vector<int> standing;
    int lastY = tank.y;
    for (int32_t t = start + 5; t <= start + 4 + 3 * 36; ++t) {
        f.Frame();
        if ((t - start) % 4 != 0) {
            EXPECT_EQ(tank.y, lastY) << "moved off its step tick at " << t;
            continue;
        }
        if (tank.y == lastY) standing.push_back(tank.y);
        EXPECT_LE(tank.y - lastY, 1);
        lastY = tank.y;
    }
    EXPECT_EQ(tank.y, 4 + 24);
    EXPECT_EQ(standing, (std::vector<int>{12, 20, 28}));
    EXPECT_EQ(tank.x, 64);
    EXPECT_EQ(tank.facing, kDown);
}

TEST(EnemyMovement, OneIn120DecisionsTurnsAtAGridPoint) {
    Field f;
    EnemyTank& tank = f.Driving(1, 16, 36, kRight);
    tank.stepsLeft = 1;
    f.Frames(4);  // the last pixel of the stride
    ASSERT_EQ(tank.x, 17);
    // The next decision draws 1 from Random(120); a tank facing right then always turns down.
    f.SeedWhere([&] { return Random(f.g, 120) == 1; });
    f.Frames(4);
    EXPECT_EQ(tank.facing, kDown);
    EXPECT_EQ(tank.moveDirection, kDown);
    f.Frames(4);
    EXPECT_EQ(tank.x, 17);
    EXPECT_EQ(tank.y, 37);
}

TEST(EnemyMovement, BlockedTankTurnsByTheTableWithWhatIsLeftOfItsStride) {
    struct Case {
        uint8_t facing;
        int32_t r;
        int x;
        uint8_t turn;
    };
    const Case cases[] = {
        {kUp, 0, 64, kDown},    {kUp, 1, 64, kRight},  {kDown, 0, 64, kRight},
        {kDown, 0, 112, kLeft}, {kDown, 1, 64, kLeft}, {kDown, 1, 112, kLeft},
        {kLeft, 0, 64, kDown},  {kLeft, 1, 64, kUp},   {kRight, 0, 64, kDown},
        {kRight, 1, 64, kDown},
    };
    for (const Case& c : cases) {
        Field f;
        EnemyTank& tank = f.Driving(1, c.x, 84, c.facing);
        tank.stepsLeft = 5;
        switch (c.facing) {
            case kUp:
                f.Steel(c.x, 83, c.x + 15, 83);
                break;
            case kDown:
                f.Steel(c.x, 100, c.x + 15, 100);
                break;
            case kLeft:
                f.Steel(c.x - 1, 84, c.x - 1, 99);
                break;
            default:
                f.Steel(c.x + 16, 84, c.x + 16, 99);
                break;
        }
        f.SeedWhere([&] { return Random(f.g, 2) == c.r; });
        const uint32_t seed = f.g.RandSeed;
        f.Frames(4);
        SCOPED_TRACE(testing::Message() << int(c.facing) << " r " << c.r << " x " << c.x);
        EXPECT_TRUE(tank.blocked);
        EXPECT_EQ(tank.facing, c.turn);
        EXPECT_EQ(tank.moveDirection, c.turn);
        EXPECT_EQ(tank.x, c.x);
        EXPECT_EQ(tank.y, 84);
        EXPECT_EQ(tank.stepsLeft, 5);  // a refused step is not counted
        // The turn's Random(2) is the only draw: there is no 1-in-120 draw after a block.
        const uint32_t after = f.g.RandSeed;
        f.g.RandSeed = seed;
        Random(f.g, 2);
        EXPECT_EQ(f.g.RandSeed, after);
    }
}

TEST(EnemyMovement, StrideCountsPixelsAcrossATurnAndEndsOffTheGrid) {
    Field f;
    f.SeedWhere([&] { return Random(f.g, 2) >= 0 && Random(f.g, 120) != 1; });
    // A wall three pixels to the right: three pixels right, then the five left of the stride down.
    EnemyTank& tank = f.Driving(1, 64, 36, kRight);
    f.Steel(83, 36, 90, 51);
    f.Frames(4 * 3);
    EXPECT_EQ(tank.x, 67);
    EXPECT_EQ(tank.stepsLeft, 5);
    f.Frames(4);
    EXPECT_EQ(tank.moveDirection, kDown);  // blocked facing right
    f.Frames(4 * 5);
    EXPECT_EQ(tank.x, 67);
    EXPECT_EQ(tank.y, 41);
    EXPECT_EQ(tank.moveDirection, 0);  // a grid point: the next step stands
    f.Frames(4);
    EXPECT_EQ(tank.y, 41);
    f.Frames(4);
    EXPECT_EQ(tank.y, 42);
}

TEST(EnemyMovement, HemmedInTankTurnsEveryStepAndFiresEvery200Ticks) {
    Field f;
    EnemyTank& tank = f.Driving(1, 64, 36, kDown);
    f.Steel(63, 35, 80, 35);
    f.Steel(63, 52, 80, 52);
    f.Steel(63, 35, 63, 52);
    f.Steel(80, 35, 80, 52);
    tank.nextFireTick = f.g.GameClock + 4;
    std::vector<int32_t> shots;
    int32_t lastFire = tank.nextFireTick;
    uint8_t lastFacing = tank.facing;
    int turns = 0;
    for (int i = 0; i < 4 * 150; ++i) {
        f.Frame();
        if (tank.nextFireTick != lastFire) shots.push_back(f.g.GameClock);
        lastFire = tank.nextFireTick;
        turns += tank.facing != lastFacing;
        lastFacing = tank.facing;
    }
    EXPECT_EQ(tank.x, 64);
    EXPECT_EQ(tank.y, 36);
    EXPECT_TRUE(tank.blocked);
    EXPECT_EQ(turns, 150);  // no entry of the turn table keeps the facing
    EXPECT_EQ(shots, (std::vector<int32_t>{1004, 1204, 1404}));
}

TEST(EnemyFire, OnlyAtDecisionsAndTheWaitRestartsWhenTheBulletIsStillOut) {
    Field f;
    f.NoRandomTurnFor(2);
    EnemyTank& tank = f.Driving(1, 64, 36, kDown);
    tank.nextFireTick = 0;     // long due
    tank.bullet.done = false;  // the last shot is still flying: the launch does nothing
    f.Frames(4 * 8);           // a whole stride: no decision on the way
    EXPECT_EQ(tank.nextFireTick, 0);
    f.Frames(4);  // the standing step at the grid point decides
    EXPECT_EQ(tank.nextFireTick, f.g.GameClock + 200);
    const int32_t next = tank.nextFireTick;
    f.Frames(4 * 9);  // the next grid point is within the wait
    EXPECT_EQ(tank.nextFireTick, next);
}

TEST(EnemyFire, FirstShotWaits200TicksFromTheSpawn) {
    // With 32 ticks per star picture the tank comes alive after the wait and fires at once;
    // with 16 it fires at the first grid point 200 ticks or more after the spawn.
    struct Case {
        int32_t starPeriod;
        int32_t firstShot;
    };
    for (Case c : {Case{32, 4 + 7 * 32 + 4}, Case{16, 4 + 7 * 16 + 4 + 3 * 36}}) {
        Field f;
        f.NoRandomTurnFor(5);
        f.g.StarPeriod = c.starPeriod;
        EnemyTank& tank = f.g.Enemy(1);
        SpawnEnemy(f.g, tank, 64, 4, 32, 0);
        const int32_t spawn = f.g.GameClock;
        while (tank.nextFireTick == spawn + 200 && f.g.GameClock < spawn + 400) f.Frame();
        SCOPED_TRACE(c.starPeriod);
        EXPECT_EQ(f.g.GameClock, spawn + c.firstShot);
        EXPECT_EQ(tank.facing, kDown);
    }
}

TEST(EnemyFreeze, FinishesTheStrideThenStandsWithoutFiringOrDeciding) {
    Field f;
    f.NoRandomTurnFor(1);
    EnemyTank& tank = f.Driving(1, 64, 36, kDown);
    f.Frames(4 * 3);
    ASSERT_EQ(tank.y, 39);
    FreezeEnemy(f.g, tank);
    const int32_t until = tank.frozenUntil;
    EXPECT_EQ(until, f.g.GameClock + 1920);
    tank.nextFireTick = 0;
    const uint32_t seed = f.g.RandSeed;
    f.Frames(4 * 5);
    EXPECT_EQ(tank.y, 44);  // the stride is finished
    while (f.g.GameClock < until - 1) f.Frame();
    EXPECT_EQ(tank.y, 44);
    EXPECT_EQ(tank.moveDirection, 0);
    EXPECT_EQ(tank.nextFireTick, 0);
    EXPECT_EQ(f.g.RandSeed, seed);  // no decisions while frozen
    EXPECT_TRUE(tank.frozen);
    // The first step at or after the end of the freeze decides again: it fires and carries on.
    while (tank.frozen) f.Frame();
    EXPECT_GE(f.g.GameClock, until);
    EXPECT_LT(f.g.GameClock, until + 4);
    EXPECT_EQ(tank.nextFireTick, f.g.GameClock + 200);
    EXPECT_EQ(tank.moveDirection, kDown);
    f.Frames(4);
    EXPECT_EQ(tank.y, 45);

    // A freeze that ends mid-stride is over at the first step after its end.
    FreezeEnemy(f.g, tank);
    tank.frozenUntil = f.g.GameClock + 6;
    f.Frames(8);
    EXPECT_FALSE(tank.frozen);
    EXPECT_EQ(tank.y, 47);
}

TEST(EnemyHits, ArmouredKindsTakeFourHitsWithAClankOnEachSurvivingHit) {
    for (uint8_t kind = 0; kind < 8; ++kind) {
        Field f;
        EnemyTank& tank = f.Arrived(1, 64, 36, kind);
        const int hits = kind == 3 || kind == 7 ? 4 : 1;
        SCOPED_TRACE(int(kind));
        for (int i = 1; i < hits; ++i) {
            EnemyHit(f.g, tank);
            EXPECT_TRUE(tank.alive);
            EXPECT_EQ(f.g.soundsPlayed[sfxClank], uint32_t(i));
        }
        EnemyHit(f.g, tank);
        EXPECT_FALSE(tank.alive);
        EXPECT_EQ(f.g.soundsPlayed[sfxClank], uint32_t(hits - 1));
        EXPECT_EQ(f.g.soundsPlayed[sfxEnemyDestroyed], 1u);
        // Hits on a dead tank, and a second destruction, do nothing.
        EnemyHit(f.g, tank);
        DestroyEnemy(f.g, tank);
        EXPECT_EQ(f.g.soundsPlayed[sfxClank], uint32_t(hits - 1));
        EXPECT_EQ(f.g.soundsPlayed[sfxEnemyDestroyed], 1u);
        EXPECT_EQ(tank.armour, 0);
    }
}

TEST(FindEnemyAt, OneSlotOnePixelAroundLiveTanksOnly) {
    Field f;
    EnemyTank& a = f.Arrived(3, 64, 36);
    f.Arrived(5, 72, 36);  // overlaps a's right half: the lower slot wins
    EXPECT_EQ(FindEnemyAt(f.g, 63, 35), 3);
    EXPECT_EQ(FindEnemyAt(f.g, 80, 52), 3);
    EXPECT_EQ(FindEnemyAt(f.g, 81, 52), 5);
    EXPECT_EQ(FindEnemyAt(f.g, 88, 52), 5);
    EXPECT_EQ(FindEnemyAt(f.g, 89, 52), 0);
    EXPECT_EQ(FindEnemyAt(f.g, 70, 34), 0);
    EXPECT_EQ(FindEnemyAt(f.g, 62, 40), 0);
    EXPECT_EQ(FindEnemyAt(f.g, 70, 53), 0);

    a.alive = false;  // destroyed, its explosion still running
    a.explosion.active = true;
    EXPECT_EQ(FindEnemyAt(f.g, 64, 36), 0);
    SpawnEnemy(f.g, a, 64, 36, 32, 0);  // entering: the star is not a target
    EXPECT_EQ(FindEnemyAt(f.g, 64, 36), 0);
    EXPECT_EQ(FindEnemyAt(f.g, 72, 36), 5);
}
