// What players' bullets break, by power and direction.
#include <gtest/gtest.h>

#include "core/field/bullet.h"
#include "core/field/enemy.h"
#include "core/field/impact.h"
#include "core/field/map.h"
#include "core/game.h"
#include "testkit/testkit.h"

using namespace kdv;
using testkit::FieldRig;

namespace {

struct Rect {
    int x1, y1, x2, y2;
};

// A player's bullet stopped at (61, 61) in a wall of the given colour; returns the wall after
// its impact as the rectangle of erased pixels (or an empty one), checking that exactly a
// rectangle was erased.
Rect ErasedBy(uint8_t wall, uint8_t hitKind, uint8_t power, uint8_t direction, bool* rect) {
    FieldRig rig;
    rig.ClearMap();
    rig.Build();
    Game& g = rig.g();
    FillBackRect(g.BackScreen, 20, 20, 120, 120, wall);
    Bullet& b = rig.P(1).bullet;
    b.done = false;
    b.x = 61, b.y = 61;
    b.state = kBulletStopped;
    b.hitKind = hitKind;
    b.power = power;
    b.lastDirection = direction;
    b.nextStepTick = g.GameClock;
    PlayerBulletTick(g, 1);
    Rect r{1000, 1000, -1, -1};
    int erased = 0;
    for (int y = 20; y <= 120; ++y)
        for (int x = 20; x <= 120; ++x)
            if (g.BackScreen.At(x, y) == 0) {
                ++erased;
                r = {std::min(r.x1, x), std::min(r.y1, y), std::max(r.x2, x), std::max(r.y2, y)};
            }
    *rect = erased == (r.x2 - r.x1 + 1) * (r.y2 - r.y1 + 1) || erased == 0;
    EXPECT_TRUE(b.done);
    return r;
}

void ExpectErased(uint8_t wall, uint8_t hitKind, uint8_t power, uint8_t direction, Rect want) {
    bool rect = false;
    Rect got = ErasedBy(wall, hitKind, power, direction, &rect);
    EXPECT_TRUE(rect);
    EXPECT_EQ(std::vector<int>({got.x1, got.y1, got.x2, got.y2}),
              std::vector<int>({want.x1, want.y1, want.x2, want.y2}))
        << "wall " << int(wall) << " hit " << int(hitKind) << " power " << int(power) << " dir "
        << int(direction);
}

}  // namespace

TEST(Impact, BrickByPowerAndDirection) {
    // Weak bullets: a 16 x 5 strip on the 4-pixel grid (x4 = y4 = 60).
    ExpectErased(4, hitBrick, 0, dirUp, {56, 56, 71, 60});
    ExpectErased(8, hitBrick, 1, dirDown, {56, 63, 71, 67});
    ExpectErased(4, hitBrick, 1, dirLeft, {56, 56, 60, 71});
    ExpectErased(4, hitBrick, 0, dirRight, {63, 56, 67, 71});
    // Strong bullets: 16 x 16 going up or down, 24 x 16 sideways (x8 = y8 = 56).
    ExpectErased(4, hitBrick, 2, dirUp, {56, 52, 71, 67});
    ExpectErased(4, hitBrick, 3, dirDown, {56, 52, 71, 67});
    ExpectErased(4, hitBrick, 2, dirLeft, {48, 52, 71, 67});
    ExpectErased(4, hitBrick, 3, dirRight, {48, 52, 71, 67});
}

TEST(Impact, SteelBreaksOnlyAtFullPower) {
    ExpectErased(17, hitSteel, 3, dirUp, {56, 52, 71, 67});
    ExpectErased(31, hitSteel, 3, dirLeft, {48, 52, 71, 67});
    bool rect = false;
    Rect none = ErasedBy(17, hitBrick, 3, dirUp, &rect);  // brick rules never touch steel
    EXPECT_EQ(none.x2, -1);
}

TEST(Impact, BrickBesideSteel) {
    ExpectErased(4, hitBrickBesideSteel, 0, dirUp, {54, 57, 61, 65});
    ExpectErased(4, hitBrickBesideSteel, 1, dirLeft, {57, 54, 65, 61});
    ExpectErased(4, hitBrickBesideSteel, 2, dirDown, {56, 52, 63, 67});
    ExpectErased(4, hitBrickBesideSteel, 2, dirLeft, {48, 52, 55, 60});
    ExpectErased(4, hitBrickBesideSteel, 2, dirRight, {64, 52, 71, 60});
    ExpectErased(17, hitBrickBesideSteel, 3, dirRight, {48, 52, 71, 67});
}

TEST(Impact, WeakBulletOnSteelRingsOnceAndBreaksNothing) {
    FieldRig rig;
    rig.ClearMap();
    rig.Build();
    Game& g = rig.g();
    FillBackRect(g.BackScreen, 100, 40, 140, 80, 17);
    PlayerTank& p = rig.P(1);
    p.x = 80, p.y = 52, p.facing = dirRight;
    const uint32_t before = g.soundsPlayed[sfxClank];
    CommandFire(g, p);
    for (int t = 0; t < 80 && !p.bullet.done; ++t) {
        rig.Now(g.GameClock + 1);
        rig.Frame();
        PlayerBulletTick(g, 1);
    }
    EXPECT_TRUE(p.bullet.done);
    EXPECT_EQ(p.bullet.hitKind, hitSteel);
    EXPECT_EQ(g.soundsPlayed[sfxClank], before + 1);
    EXPECT_EQ(g.BackScreen.At(100, 59), 17);
}

namespace {

// A player's bullet stopped inside the computer tank in slot 1.
void ShootEnemy(FieldRig& rig, uint8_t kind, int shooter = 1) {
    Game& g = rig.g();
    EnemyTank& e = g.Enemy(1);
    if (!e.alive) {
        SpawnEnemy(g, e, 100, 60, 32, kind);
        e.entering = false;
        e.alive = true;
    }
    Bullet& b = rig.P(shooter).bullet;
    b.done = false;
    b.x = 108, b.y = 75;
    b.state = kBulletStopped;
    b.hitKind = hitEnemy;
    b.owner = uint8_t(shooter);
    b.nextStepTick = g.GameClock;
    PlayerBulletTick(g, shooter);
    EXPECT_TRUE(b.done);
}

}  // namespace

TEST(Impact, KillsPayByKindAndArmourTakesFourHits) {
    for (uint8_t kind : {0, 1, 2, 3, 4, 5, 6, 7}) {
        FieldRig rig;
        Game& g = rig.g();
        const int hits = kind % 4 == 3 ? 4 : 1;
        for (int i = 0; i < hits; ++i) {
            EXPECT_EQ(rig.P(1).score, 0) << int(kind);  // nothing until the last hit
            ShootEnemy(rig, kind);
        }
        EXPECT_FALSE(g.Enemy(1).alive);
        EXPECT_EQ(rig.P(1).score, 100 * (kind % 4 + 1)) << int(kind);
        EXPECT_EQ(rig.P(1).kills[kind % 4], 1);
        EXPECT_EQ(g.soundsPlayed[sfxClank], uint32_t(hits - 1));
        // A carrier brings a bonus with every hit, the last one included.
        EXPECT_EQ(g.soundsPlayed[sfxBonusPlaced], kind >= 4 ? uint32_t(hits) : 0u) << int(kind);
    }
}

TEST(Impact, KillsAreCountedForTheShooterInAnySlot) {
    FieldRig rig(gmTwoPlayers);
    Game& g = rig.g();
    EnemyTank& e = g.Enemy(10);
    SpawnEnemy(g, e, 100, 60, 32, 2);
    e.entering = false;
    e.alive = true;
    Bullet& b = rig.P(2).bullet;
    b.done = false;
    b.x = 99, b.y = 59;  // the one-pixel margin around the tank
    b.state = kBulletStopped;
    b.hitKind = hitEnemy;
    b.nextStepTick = g.GameClock;
    PlayerBulletTick(g, 2);
    EXPECT_FALSE(e.alive);
    EXPECT_EQ(rig.P(2).score, 300);
    EXPECT_EQ(rig.P(1).score, 0);
}

TEST(Impact, BaseAndDuelHits) {
    FieldRig rig(gmDuel);
    Game& g = rig.g();
    Bullet& b = rig.P(1).bullet;
    auto stopWith = [&](uint8_t hitKind) {
        b.done = false;
        b.x = 120, b.y = 179;
        b.state = kBulletStopped;
        b.hitKind = hitKind;
        b.nextStepTick = g.GameClock;
        PlayerBulletTick(g, 1);
    };
    stopWith(hitPlayer2);  // the opponent is still shielded
    EXPECT_TRUE(b.done);
    EXPECT_TRUE(rig.P(2).alive);
    rig.P(2).shield.active = false;
    stopWith(hitPlayer2);
    EXPECT_FALSE(rig.P(2).alive);

    stopWith(hitBase);
    EXPECT_TRUE(g.GameOverCaption.base.active);
    EXPECT_TRUE(rig.P(1).locked);
    EXPECT_EQ(g.soundsPlayed[sfxBaseFalls], 2u);
    stopWith(hitBase);  // the game is already lost: nothing starts again
    EXPECT_EQ(g.soundsPlayed[sfxBaseFalls], 2u);
}
