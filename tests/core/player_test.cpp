// The players' tanks: placing, strides and blocking, shield, lives, and the autopilot.
#include <gtest/gtest.h>

#include <set>

#include "core/field/map.h"
#include "core/field/player.h"
#include "core/game.h"
#include "testkit/testkit.h"

using namespace kdv;
using testkit::FieldRig;

namespace {

struct TankRig : FieldRig {
    explicit TankRig(uint8_t mode = gmOnePlayer) : FieldRig(mode) {
        ClearMap();
        Build();
        Now(0);
    }
    // One movement step of player n, as in a frame: the map, then every tank, then the tick.
    void Step(int n, int players = 1) {
        Now(g().GameClock + 2);
        Frame();
        for (int p = 1; p <= players; ++p) DrawPlayerTank(g(), P(p));
        P(n).nextStepTick = g().GameClock;
        PlayerTick(g(), n);
    }
    void Put(int n, int x, int y) {
        P(n).x = uint16_t(x);
        P(n).y = uint16_t(y);
    }
};

}  // namespace

TEST(PlayerTank, NewGameStageAndRespawnKeepWhatTheyShould) {
    TankRig rig;
    Game& g = rig.g();
    PlayerTank& p = rig.P(1);
    EXPECT_EQ(p.lives, 3);
    EXPECT_EQ(p.facing, dirUp);
    EXPECT_TRUE(p.shield.active);
    EXPECT_EQ(p.bullet.owner, 1);
    EXPECT_TRUE(p.bullet.done);
    EXPECT_EQ(rig.P(2).colourOffset, 64);
    EXPECT_EQ(rig.P(2).bullet.owner, 2);

    p.lives = 5, p.score = 700, p.level = 2, p.kills = {1, 2, 3, 4};
    StageTank(g, 1, 80, 180, 0);
    EXPECT_EQ(p.lives, 5);
    EXPECT_EQ(p.score, 700);
    EXPECT_EQ(p.level, 2);
    EXPECT_EQ(p.kills, (std::array<uint8_t, 4>{0, 0, 0, 0}));

    p.kills = {1, 0, 0, 0};
    p.alive = false;
    RespawnTank(g, 1, 80, 180, 0);
    EXPECT_TRUE(p.alive);
    EXPECT_EQ(p.level, 0);
    EXPECT_EQ(p.kills[0], 1);
    EXPECT_FALSE(p.locked);

    g.GameMode = gmDemo;  // in the demonstration a new life stands still
    RespawnTank(g, 1, 80, 180, 0);
    EXPECT_TRUE(p.locked);
    p.mayRespawn = false;
    p.alive = false;
    RespawnTank(g, 1, 80, 180, 0);
    StageTank(g, 1, 80, 180, 0);
    EXPECT_FALSE(p.alive);
}

TEST(PlayerTank, StridesOfEightPixelsIgnoreCommandsUntilDone) {
    TankRig rig;
    PlayerTank& p = rig.P(1);
    rig.Put(1, 80, 100);
    CommandDirection(rig.g(), p, dirRight);
    EXPECT_EQ(p.facing, dirRight);
    for (int i = 0; i < 3; ++i) rig.Step(1);
    EXPECT_EQ(p.x, 83);
    CommandDirection(rig.g(), p, dirUp);  // mid-stride: ignored
    EXPECT_EQ(p.facing, dirRight);
    for (int i = 0; i < 5; ++i) rig.Step(1);
    EXPECT_EQ(p.x, 88);
    EXPECT_TRUE(p.acceptsCommand);
    EXPECT_EQ(p.stepsLeft, 8);
    rig.Step(1);  // no new command: it stands
    EXPECT_EQ(p.x, 88);
    EXPECT_TRUE(p.trackPhase);
}

TEST(PlayerTank, BlockedAfterThreePixelsTakesANewCommandAtOnce) {
    TankRig rig;
    PlayerTank& p = rig.P(1);
    rig.Put(1, 80, 100);
    rig.SetCell(5, 6, 3);  // steel at x 96..111, y 100..115
    rig.Build();
    rig.Put(1, 77, 100);
    CommandDirection(rig.g(), p, dirRight);
    for (int i = 0; i < 4; ++i) rig.Step(1);
    EXPECT_EQ(p.x, 80);
    EXPECT_TRUE(p.blocked);
    EXPECT_EQ(p.stepsLeft, 5);
    EXPECT_TRUE(p.acceptsCommand);
    CommandDirection(rig.g(), p, dirUp);
    EXPECT_EQ(p.stepsLeft, 8);
    rig.Step(1);
    EXPECT_EQ(p.y, 99);
    EXPECT_FALSE(p.blocked);
}

TEST(PlayerTank, TurnsToFaceAWallAndTanksBlockEachOther) {
    TankRig rig(gmTwoPlayers);
    PlayerTank& p = rig.P(1);
    rig.Put(1, 16, 100);
    CommandDirection(rig.g(), p, dirLeft);
    rig.Step(1, 2);
    EXPECT_EQ(p.facing, dirLeft);
    EXPECT_EQ(p.x, 16);
    EXPECT_TRUE(p.blocked);

    rig.Put(1, 80, 100);
    rig.Put(2, 96, 100);
    CommandDirection(rig.g(), p, dirRight);
    rig.Step(1, 2);
    EXPECT_EQ(p.x, 80);
    EXPECT_TRUE(p.blocked);
    rig.Put(2, 97, 100);
    CommandDirection(rig.g(), p, dirRight);
    rig.Step(1, 2);
    EXPECT_EQ(p.x, 81);
}

TEST(PlayerTank, LivesAndTheLastTank) {
    TankRig rig;
    Game& g = rig.g();
    PlayerTank& p = rig.P(1);
    p.lives = 1;
    DestroyPlayer(g, 1);
    EXPECT_FALSE(p.alive);
    EXPECT_EQ(p.lives, 0);
    EXPECT_TRUE(p.mayRespawn);
    DestroyPlayer(g, 1);  // already lost: a second bullet changes nothing
    EXPECT_TRUE(p.mayRespawn);
    EXPECT_EQ(g.soundsPlayed[sfxPlayerDestroyed], 1u);
    RespawnTank(g, 1, 80, 180, 0);
    DestroyPlayer(g, 1);
    EXPECT_EQ(p.lives, 0);
    EXPECT_FALSE(p.mayRespawn);
}

TEST(PlayerTank, ShieldShimmersEverySixTicksFor1080) {
    TankRig rig;
    Game& g = rig.g();
    PlayerTank& p = rig.P(1);
    StartShield(g, p.shield);
    int flips = 0;
    bool phase = p.shield.phase;
    int lastTick = 0;
    for (int t = 0; t <= 1100 && p.shield.active; ++t) {
        rig.Now(t);
        rig.Frame();
        DrawShield(g, p);
        if (t == 0) {
            EXPECT_EQ(g.FrameScreen.At(p.x, p.y), 161);  // sprite 87 first
        }
        flips += p.shield.phase != phase;
        phase = p.shield.phase;
        lastTick = t;
    }
    EXPECT_EQ(lastTick, 1080);
    EXPECT_EQ(flips, 1080 / 6);
}

TEST(PlayerTank, FireIsRefusedOnceTheGameIsLost) {
    TankRig rig;
    Game& g = rig.g();
    PlayerTank& p = rig.P(1);
    g.GameOverCaption.base.active = true;
    CommandFire(g, p);
    EXPECT_TRUE(p.bullet.done);
    g.GameOverCaption.base.active = false;
    p.level = 3;
    p.facing = dirLeft;
    CommandFire(g, p);
    EXPECT_FALSE(p.bullet.done);
    EXPECT_EQ(p.bullet.power, 3);
    EXPECT_EQ(p.bullet.state, dirLeft);
}

TEST(Autopilot, TargetsTheFirstFreeComputerTankThenSteersToIt) {
    TankRig rig(gmTwoPlayers);
    Game& g = rig.g();
    g.GameMode = gmDemo;
    g.EnemyLimit = 6;
    PlayerTank& p = rig.P(1);
    PlayerTank& q = rig.P(2);
    g.Enemy(2).alive = g.Enemy(3).alive = true;
    g.Enemy(3).x = 208, g.Enemy(3).y = 4;
    q.autopilotTargetSlot = 2;  // taken by the other player
    rig.Put(1, 80, 100);
    rig.Step(1, 2);
    EXPECT_TRUE(p.autopilotHasTarget);
    EXPECT_EQ(p.autopilotTargetKind, 2);
    EXPECT_EQ(p.autopilotTargetSlot, 3);
    EXPECT_EQ(p.commandedDirection, dirUp);  // far below its target: up first

    g.Enemy(3).alive = false;  // the target is gone: it lets go and picks again later
    p.acceptsCommand = true;
    Autopilot(g, 1);
    EXPECT_FALSE(p.autopilotHasTarget);
    Autopilot(g, 1);
    EXPECT_TRUE(p.autopilotHasTarget);
    EXPECT_EQ(p.autopilotTargetKind, 0);  // no free tank, no bonus

    g.Bonus.active = true;
    g.Bonus.x = 200, g.Bonus.y = 100;
    Autopilot(g, 1);
    EXPECT_EQ(p.autopilotTargetKind, 1);
    EXPECT_EQ(p.commandedDirection, dirRight);
    q.autopilotTargetKind = 1;  // only one autopilot chases the bonus
    q.autopilotHasTarget = true;
    PlayerTank& other = rig.P(2);
    other.acceptsCommand = true;
    other.locked = false;
    Autopilot(g, 2);
    EXPECT_EQ(q.autopilotTargetKind, 1);
}

TEST(Autopilot, KeepsItsShotsOffTheBase) {
    struct Case {
        int x, y;
        uint8_t facing;
        bool fires;
    };
    for (Case c : {Case{80, 170, dirRight, false},
                   {144, 170, dirLeft, false},
                   {144, 170, dirRight, true},
                   {80, 170, dirLeft, true},
                   {112, 100, dirDown, false},
                   {60, 100, dirDown, true},
                   {112, 100, dirUp, true}}) {
        TankRig rig(gmTwoPlayers);
        Game& g = rig.g();
        g.GameMode = gmDemo;
        PlayerTank& p = rig.P(1);
        rig.Put(1, c.x, c.y);
        p.facing = c.facing;
        p.autopilotTargetSlot = 1;
        g.Enemy(1).x = 16;  // not below the tank: no reason to fire down at the base
        g.Enemy(1).y = 4;
        Autopilot(g, 1);
        EXPECT_EQ(!p.bullet.done, c.fires) << c.x << "," << c.y << " facing " << int(c.facing);
    }
    TankRig rig(gmTwoPlayers);
    Game& g = rig.g();
    g.GameMode = gmDemo;
    PlayerTank& p = rig.P(1);
    rig.Put(1, 112, 100);
    p.facing = dirDown;
    p.autopilotTargetSlot = 1;
    g.Enemy(1).x = 118, g.Enemy(1).y = 130;  // below it and in line: fire
    Autopilot(g, 1);
    EXPECT_FALSE(p.bullet.done);
}

TEST(Autopilot, ABlockedTankTurnsByTheTable) {
    TankRig rig(gmTwoPlayers);
    Game& g = rig.g();
    g.GameMode = gmDemo;
    PlayerTank& p = rig.P(1);
    g.Enemy(1).alive = true;  // something to drive at
    std::set<int> turns;
    for (int i = 0; i < 40; ++i) {
        p.blocked = true;
        p.acceptsCommand = true;
        p.facing = dirUp;
        p.autopilotFired = true;
        p.bullet.done = false;  // no shot to distract
        Autopilot(g, 1);
        turns.insert(p.commandedDirection);
    }
    EXPECT_EQ(turns, (std::set<int>{dirDown, dirRight, dirLeft}));
    p.locked = true;
    p.commandedDirection = dirNone;
    Autopilot(g, 1);
    EXPECT_EQ(p.commandedDirection, dirNone);
}
