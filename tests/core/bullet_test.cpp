// Bullets: launch, probes and their colour classes, flight, bursts and the computer tanks'
// impacts; the players' bullets in flight.
#include <gtest/gtest.h>

#include "core/field/bullet.h"
#include "core/field/map.h"
#include "core/game.h"
#include "testkit/testkit.h"

using namespace kdv;
using testkit::FieldRig;

namespace {

struct BulletRig : FieldRig {
    explicit BulletRig(uint8_t mode = gmOnePlayer) : FieldRig(mode) {
        ClearMap();
        Build();
        Frame();
        Now(1000);
    }
    // A bullet in flight at (x, y), due to step now.
    Bullet Flying(int x, int y, uint8_t direction, uint8_t power = 0, uint8_t owner = 0) {
        Bullet b;
        b.done = true;
        LaunchBullet(g(), b, 0, 0, power, direction);
        b.x = uint16_t(x);
        b.y = uint16_t(y);
        b.owner = owner;
        b.nextStepTick = g().GameClock;
        return b;
    }
    // One flight step of a computer tank's bullet, due now.
    void Step(Bullet& b) {
        b.nextStepTick = g().GameClock;
        BulletTick(g(), b);
    }
    void SetSprite(int n, uint8_t colour) {
        auto s = testkit::SolidSprite(colour);
        std::copy(s.begin(), s.end(), g().SpriteSheet.begin() + n * 256);
        NoteSpriteSheet(g());
    }
};

}  // namespace

TEST(Bullet, LaunchPointsSpeedsAndTimers) {
    BulletRig rig;
    struct Case {
        uint8_t direction;
        int x, y;
    };
    for (Case c : {Case{dirUp, 107, 60}, Case{dirDown, 107, 75}, Case{dirLeft, 100, 67},
                   Case{dirRight, 115, 67}}) {
        Bullet b;
        b.done = true;
        LaunchBullet(rig.g(), b, 100, 60, 0, c.direction);
        EXPECT_EQ(b.x, c.x);
        EXPECT_EQ(b.y, c.y);
        EXPECT_EQ(b.state, c.direction);
        EXPECT_FALSE(b.done);
        EXPECT_EQ(b.burstFrames, 3);
        EXPECT_EQ(b.nextStepTick, 1001);
        EXPECT_EQ(b.nextBurstTick, 1012);
    }
    for (auto [power, speed] : {std::pair{0, 1}, {1, 2}, {2, 3}, {3, 3}}) {
        Bullet b;
        b.done = true;
        LaunchBullet(rig.g(), b, 100, 60, uint8_t(power), dirUp);
        EXPECT_EQ(b.speed, speed);
    }
    Bullet flying = rig.Flying(50, 50, dirUp);
    LaunchBullet(rig.g(), flying, 10, 10, 0, dirDown);
    EXPECT_EQ(flying.state, dirUp);  // one bullet at a time
}

TEST(Bullet, ProbeDecidesOnTheFirstPixelThatIsNotEmptyOrWater) {
    BulletRig rig;
    ScreenBuffer& f = rig.g().FrameScreen;
    f.Set(49, 50, 1);
    f.Set(51, 50, 9);
    EXPECT_EQ(ProbeRow(rig.g(), 50, 50), 0);  // the fourth decides
    f.Set(52, 50, 4);
    EXPECT_EQ(ProbeRow(rig.g(), 50, 50), 4);
    f.Set(50, 50, 17);
    EXPECT_EQ(ProbeRow(rig.g(), 50, 50), 17);
    f.Set(60, 59, 208);
    f.Set(60, 62, 4);
    EXPECT_EQ(ProbeColumn(rig.g(), 60, 60), 208);
}

TEST(Bullet, ComputerTanksBulletsClassifyEveryColour) {
    struct Case {
        uint8_t colour;
        bool blocked;
        uint8_t hitKind;
    };
    for (Case c : {Case{0, false, 0},
                   {1, false, 0},
                   {9, false, 0},
                   {65, false, 0},
                   {96, false, 0},
                   {4, true, 2},
                   {8, true, 2},
                   {17, true, 1},
                   {31, true, 1},
                   {208, true, 0},
                   {132, true, 4},
                   {143, true, 4},
                   {196, true, 5},
                   {207, true, 5},
                   {254, true, 3},
                   {15, true, 8},
                   {100, true, 0},
                   {97, true, 0},
                   {131, true, 0}}) {
        BulletRig rig;
        Bullet b = rig.Flying(50, 100, dirRight);
        b.hitKind = 2;  // an earlier stop must not decide this one
        rig.g().FrameScreen.Set(51, 100, c.colour);
        rig.Step(b);
        EXPECT_EQ(b.state == kBulletStopped, c.blocked) << int(c.colour);
        EXPECT_EQ(b.x, c.blocked ? 50 : 51) << int(c.colour);
        if (c.blocked) {
            EXPECT_EQ(b.hitKind, c.hitKind) << int(c.colour);
        }
    }
}

TEST(Bullet, WeakBulletsBreakAStripOnTheFourPixelGrid) {
    struct Case {
        uint8_t direction;
        int x1, y1, x2, y2;  // the strip, for a bullet stopped at (57, 61)
    };
    for (Case c : {Case{dirUp, 52, 56, 67, 60},
                   {dirDown, 52, 63, 67, 67},
                   {dirLeft, 52, 56, 56, 71},
                   {dirRight, 59, 56, 63, 71}}) {
        BulletRig rig;
        FillBackRect(rig.g().BackScreen, 30, 30, 100, 100, 4);
        Bullet b = rig.Flying(57, 61, c.direction);
        b.state = kBulletStopped;
        b.hitKind = hitBrick;
        rig.Step(b);
        EXPECT_TRUE(b.done);
        for (int y = 30; y <= 100; ++y)
            for (int x = 30; x <= 100; ++x) {
                const bool inStrip = x >= c.x1 && x <= c.x2 && y >= c.y1 && y <= c.y2;
                ASSERT_EQ(rig.g().BackScreen.At(x, y), inStrip ? 0 : 4)
                    << "direction " << int(c.direction) << " at " << x << "," << y;
            }
    }
}

TEST(Bullet, BurstShowsThreePicturesFromTheLaunchTimer) {
    BulletRig rig;
    rig.SetSprite(88, 65);
    rig.SetSprite(89, 66);
    rig.SetSprite(90, 67);
    Game& g = rig.g();
    Bullet b;
    b.done = true;
    rig.Now(0);
    LaunchBullet(g, b, 100, 100, 0, dirRight);  // at (115, 107)
    rig.g().FrameScreen.Set(116, 107, 17);
    std::vector<int> shown;
    for (int t = 1; t <= 40 && !b.done; ++t) {
        rig.Now(t);
        rig.Frame();
        if (t == 1) rig.g().FrameScreen.Set(116, 107, 17);
        BulletTick(g, b);
        shown.push_back(g.FrameScreen.At(108, 100));
    }
    // Stopped at tick 1; the burst runs from tick 2 with the launch's 12-tick timer.
    ASSERT_EQ(shown.size(), 36u);
    EXPECT_EQ(std::count(shown.begin(), shown.end(), 65), 11);
    EXPECT_EQ(std::count(shown.begin(), shown.end(), 66), 12);
    EXPECT_EQ(std::count(shown.begin(), shown.end(), 67), 12);
    EXPECT_TRUE(b.done);

    // A burst after a long flight shows its first picture for one frame only; near the top
    // of the screen no picture is drawn at all.
    Bullet late = rig.Flying(100, 6, dirUp);
    late.nextBurstTick = g.GameClock - 5;
    late.state = kBulletStopped;
    late.hitKind = hitFrame;
    rig.Frame();
    rig.Step(late);
    EXPECT_EQ(late.burstFrames, 2);
    EXPECT_EQ(g.FrameScreen.At(93, 0), 208);
}

TEST(Bullet, MeetingBulletsBothBurstAndWaterAndTanksLetThemThrough) {
    BulletRig rig;
    Game& g = rig.g();
    Bullet a = rig.Flying(100, 100, dirRight), b = rig.Flying(101, 100, dirLeft);
    DrawBullet(g, a);
    DrawBullet(g, b);
    rig.Step(a);
    rig.Step(b);
    EXPECT_EQ(a.hitKind, hitBullet);
    EXPECT_EQ(b.hitKind, hitBullet);

    rig.Frame();
    for (int y = 80; y < 100; ++y) g.FrameScreen.Set(50, y, y < 90 ? 9 : 70);
    Bullet c = rig.Flying(50, 100, dirUp);
    for (int i = 0; i < 30; ++i) rig.Step(c);
    EXPECT_EQ(c.state, dirUp);
    EXPECT_EQ(c.y, 70);
}

TEST(Bullet, ComputerBulletsHitPlayersUnlessShieldedAndNeverBreakSteel) {
    BulletRig rig;
    Game& g = rig.g();
    PlayerTank& p = rig.P(1);
    Bullet b = rig.Flying(100, 100, dirDown);
    b.state = kBulletStopped;
    b.hitKind = hitPlayer1;
    ASSERT_TRUE(p.shield.active);
    rig.Step(b);
    EXPECT_TRUE(b.done);
    EXPECT_TRUE(p.alive);

    p.shield.active = false;
    b = rig.Flying(100, 100, dirDown);
    b.state = kBulletStopped;
    b.hitKind = hitPlayer1;
    rig.Step(b);
    EXPECT_FALSE(p.alive);
    EXPECT_EQ(p.lives, 2);
    EXPECT_EQ(g.soundsPlayed[sfxPlayerDestroyed], 1u);

    FillBackRect(g.BackScreen, 40, 40, 80, 80, 17);
    Bullet s = rig.Flying(60, 60, dirUp);
    s.state = kBulletStopped;
    s.hitKind = hitSteel;
    for (int i = 0; i < 40 && !s.done; ++i) {
        rig.Now(g.GameClock + 1);
        rig.Step(s);
    }
    EXPECT_TRUE(s.done);
    EXPECT_EQ(g.BackScreen.At(60, 59), 17);
}

TEST(PlayerBullet, LaunchesFurtherBackToTheRightAndPlaysTheShot) {
    BulletRig rig;
    Game& g = rig.g();
    Bullet b;
    b.done = true;
    LaunchPlayerBullet(g, b, 100, 100, 2, dirRight);
    EXPECT_EQ(b.x, 114);
    EXPECT_EQ(b.y, 107);
    EXPECT_EQ(b.speed, 3);
    EXPECT_EQ(g.soundsPlayed[sfxShot], 1u);
    LaunchPlayerBullet(g, b, 10, 10, 0, dirUp);
    EXPECT_EQ(b.x, 114);
    EXPECT_EQ(g.soundsPlayed[sfxShot], 1u);
}

TEST(PlayerBullet, MarkerIsDrawnAtItsOwnOffsets) {
    BulletRig rig;
    Game& g = rig.g();
    struct Case {
        uint8_t direction;
        int x, y;
    };
    for (Case c : {Case{dirUp, 50, 60}, {dirDown, 50, 59}, {dirLeft, 54, 60}, {dirRight, 54, 60}}) {
        rig.Frame();
        Bullet b = rig.Flying(50, 60, c.direction);
        DrawPlayerBullet(g, b);
        EXPECT_EQ(g.FrameScreen.At(c.x, c.y), 15) << int(c.direction);
        EXPECT_EQ(g.FrameScreen.At(c.x + 1, c.y + 1), 15);
        int marker = 0;
        for (int y = 4; y < 196; ++y)
            for (int x = 16; x < 224; ++x) marker += g.FrameScreen.At(x, y) == 15;
        EXPECT_EQ(marker, 4);
    }
}

TEST(PlayerBullet, ClassifiesColoursByOwnerAndDuel) {
    struct Case {
        uint8_t colour;
        uint8_t owner;
        uint8_t mode;
        bool blocked;
        uint8_t hitKind;
    };
    for (Case c : {Case{0, 1, gmOnePlayer, false, 0},
                   {9, 1, gmOnePlayer, false, 0},
                   {65, 1, gmOnePlayer, true, 0},
                   {80, 1, gmOnePlayer, true, 0},
                   {68, 1, gmOnePlayer, true, 6},
                   {79, 1, gmOnePlayer, true, 6},
                   {84, 2, gmTwoPlayers, true, 6},
                   {96, 2, gmTwoPlayers, true, 6},
                   {132, 2, gmDuel, true, 4},
                   {132, 1, gmDuel, true, 0},
                   {132, 2, gmTwoPlayers, true, 0},
                   {196, 1, gmDuel, true, 5},
                   {207, 2, gmDuel, true, 0},
                   {196, 1, gmTwoPlayers, true, 0},
                   {254, 1, gmOnePlayer, true, 3},
                   {15, 1, gmOnePlayer, true, 8},
                   {208, 1, gmOnePlayer, true, 0},
                   {8, 1, gmOnePlayer, true, 2},
                   {31, 1, gmOnePlayer, true, 1}}) {
        BulletRig rig(c.mode);
        Bullet b = rig.Flying(50, 100, dirLeft, 0, c.owner);
        b.hitKind = 2;
        rig.g().FrameScreen.Set(49, 100, c.colour);
        PlayerBulletStep(rig.g(), b);
        EXPECT_EQ(b.state == kBulletStopped, c.blocked)
            << int(c.colour) << " owner " << int(c.owner);
        if (c.blocked) {
            EXPECT_EQ(b.hitKind, c.hitKind) << int(c.colour) << " owner " << int(c.owner);
        }
    }
}

TEST(PlayerBullet, BrickBesideSteelAndThePushIntoATank) {
    struct Case {
        uint8_t across;  // colour two pixels across the path
        uint8_t hitKind;
    };
    for (Case c : {Case{17, hitBrickBesideSteel}, {4, hitBrick}, {0, hitBrick}, {70, hitEnemy}}) {
        BulletRig rig;
        ScreenBuffer& f = rig.g().FrameScreen;
        f.Set(49, 99, 4);
        for (int x = 51; x <= 54; ++x) f.Set(x, 99, c.across);
        Bullet b = rig.Flying(50, 100, dirUp, 0, 1);
        PlayerBulletStep(rig.g(), b);
        EXPECT_EQ(b.hitKind, c.hitKind) << int(c.across);
    }
    BulletRig rig;
    rig.g().FrameScreen.Set(52, 100, 70);
    Bullet b = rig.Flying(50, 100, dirRight, 1, 1);
    b.lastDirection = dirUp;
    PlayerBulletStep(rig.g(), b);
    EXPECT_EQ(b.hitKind, hitEnemy);
    EXPECT_EQ(b.x, 52);  // speed 2 further, inside the tank
    EXPECT_EQ(b.lastDirection, dirUp);
}
