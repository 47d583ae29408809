// Shots on the shipped pictures: the game's own launch, drawing and probe code run on the
// built graphics pack, so that a tank picture that stops its own bullet is caught.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>

#include "core/controls/settings.h"
#include "core/field/bullet.h"
#include "core/field/enemy.h"
#include "core/field/map.h"
#include "core/field/player.h"
#include "core/field/reserve.h"
#include "core/game.h"
#include "testkit/testkit.h"

using namespace kdv;

namespace {

constexpr int kTankX = 112, kTankY = 92;  // the middle of an empty field
const char* const kFacing[] = {"", "up", "down", "left", "right"};

// A stage of the shipped data with its map emptied: nothing but the frame and the tanks.
struct ShippedField : testkit::FieldRig {
    explicit ShippedField(uint8_t mode = gmTwoPlayers) : FieldRig(mode, KORDAVEL_DATA_DIR) {
        ClearMap();
        Build();
    }
};

// Where a bullet is after `distance` pixels of flight from (x, y).
std::pair<uint16_t, uint16_t> Ahead(int x, int y, int direction, int distance) {
    switch (direction) {
        case dirUp:
            return {uint16_t(x), uint16_t(y - distance)};
        case dirDown:
            return {uint16_t(x), uint16_t(y + distance)};
        case dirLeft:
            return {uint16_t(x - distance), uint16_t(y)};
        default:
            return {uint16_t(x + distance), uint16_t(y)};
    }
}

}  // namespace

// Both players, every level, facing and track picture, standing or driving into the shot,
// with the tank's step falling in either frame: played through the real play step with the
// player's own fire and direction bindings. The bullet's first step must get away.
TEST(ShippedShots, EveryPlayerTankFiresClearOfItselfInEveryFacing) {
    for (int player = 1; player <= 2; ++player)
        for (int level = 0; level < 4; ++level) {
            ShippedField rig;
            Game& g = rig.g();
            ASSERT_EQ(g.GameState, gsPlay);
            PlayerTank& t = rig.P(player);
            const BindingRow& keys = player == 1 ? g.Settings.keys1 : g.Settings.keys2;
            for (uint8_t facing = dirUp; facing <= dirRight; ++facing)
                for (bool trackA : {true, false})
                    for (bool driving : {false, true})
                        for (int delay = 0; delay <= 2; ++delay) {
                            t.x = kTankX, t.y = kTankY;
                            t.level = uint8_t(level);
                            t.facing = facing;
                            t.trackPhase = trackA;
                            t.commandedDirection = dirNone;
                            t.acceptsCommand = true;
                            t.stepsLeft = 8;
                            t.bullet.done = true;             // the last shot is dropped
                            g.EnemyReserve.StageWon = false;  // an empty field is won
                            t.nextStepTick = g.GameClock + delay;
                            rig.Press(keys[Fire]);
                            if (driving) rig.Press(keys[MoveUp + facing - 1]);
                            rig.Tick();
                            rig.Release(keys[Fire]);
                            rig.Release(keys[MoveUp + facing - 1]);
                            const Bullet launched = t.bullet;
                            const std::string what = "player " + std::to_string(player) +
                                                     ", level " + std::to_string(level) + ", " +
                                                     kFacing[facing] +
                                                     (trackA ? ", tracks A" : ", tracks B") +
                                                     (driving ? ", driving" : ", standing") +
                                                     ", step delay " + std::to_string(delay);
                            ASSERT_FALSE(launched.done) << what;
                            ASSERT_EQ(launched.state, facing) << what;
                            rig.Tick();
                            const auto [x, y] =
                                Ahead(launched.x, launched.y, facing, launched.speed);
                            EXPECT_EQ(t.bullet.state, facing)
                                << what << ": the shot stopped on its first step";
                            EXPECT_EQ(t.bullet.x, x) << what;
                            EXPECT_EQ(t.bullet.y, y) << what;
                        }
        }
}

// Every kind of computer tank (carriers too), every facing and track picture, launched by the
// tank's own launch point and stepped by the computer tanks' bullet tick.
TEST(ShippedShots, EveryComputerTankFiresClearOfItself) {
    ShippedField rig;
    Game& g = rig.g();
    for (uint8_t kind = 0; kind < 8; ++kind)
        for (uint8_t facing = dirUp; facing <= dirRight; ++facing)
            for (bool trackA : {true, false}) {
                g.EnemyLineup.fill(kind);
                StartReserve(g);  // brings it in as a stage does, with the game's sprites
                EnemyTank& e = g.Enemy(1);
                e.x = kTankX, e.y = kTankY;
                e.entering = false;
                e.alive = true;
                e.facing = facing;
                e.trackPhase = trackA;
                rig.Frame();
                DrawEnemy(g, e);
                LaunchBullet(g, e.bullet, e.x, e.y, e.bulletPower, e.facing);
                const Bullet launched = e.bullet;
                rig.Now(launched.nextStepTick);
                rig.Frame();
                DrawEnemy(g, e);
                BulletTick(g, e.bullet);
                const auto [x, y] = Ahead(launched.x, launched.y, facing, launched.speed);
                const std::string what = "kind " + std::to_string(kind) + ", " + kFacing[facing] +
                                         (trackA ? ", tracks A" : ", tracks B");
                EXPECT_EQ(e.bullet.state, facing) << what;
                EXPECT_EQ(e.bullet.x, x) << what;
                EXPECT_EQ(e.bullet.y, y) << what;
                for (EnemyTank& slot : g.enemies) ResetEnemySlot(slot);
            }
}

// A burst stays in the frame while other bullets fly: a player's bullet stops on every burst
// picture, at every power and from every side, while a computer tank's bullet flies through.
TEST(ShippedShots, BurstsStopPlayersBulletsAndLetComputerBulletsThrough) {
    ShippedField rig;
    Game& g = rig.g();
    constexpr int kRunUp = 40;
    for (uint8_t pictures = 1; pictures <= 3; ++pictures)
        for (uint8_t direction = dirUp; direction <= dirRight; ++direction)
            for (int shooter = 0; shooter <= 2; ++shooter) {  // 0: a computer tank
                for (uint8_t power = 0; power < 4; ++power) {
                    if (shooter == 0 && power > 0) break;
                    Bullet shot;
                    shot.done = true;
                    shot.owner = uint8_t(shooter);
                    if (shooter)
                        LaunchPlayerBullet(g, shot, kTankX, kTankY, power, direction);
                    else
                        LaunchBullet(g, shot, kTankX, kTankY, power, direction);
                    const int lx = shot.x, ly = shot.y;
                    // The burst of a bullet stopped kRunUp ahead, holding its picture.
                    Bullet burst;
                    std::tie(burst.x, burst.y) = Ahead(lx, ly, direction, kRunUp);
                    burst.state = kBulletStopped;
                    burst.burstFrames = pictures;
                    burst.nextBurstTick = g.GameClock + 1000000;
                    int travelled = 0;
                    while (shot.state == direction && travelled < 2 * kRunUp) {
                        rig.Now(shot.nextStepTick);
                        rig.Frame();
                        ShowBurst(g, burst);
                        if (shooter)
                            PlayerBulletStep(g, shot);
                        else
                            BulletTick(g, shot);
                        travelled = std::abs(shot.x - lx) + std::abs(shot.y - ly);
                    }
                    const std::string what = "burst picture " + std::to_string(91 - pictures) +
                                             ", shot " + kFacing[direction] +
                                             (shooter ? " by player " + std::to_string(shooter)
                                                      : " by a computer tank") +
                                             " at power " + std::to_string(power);
                    if (shooter) {
                        EXPECT_EQ(shot.state, kBulletStopped) << what;
                        // Stopped at the picture, short of its middle, not at the run-up's start.
                        EXPECT_GT(travelled, kRunUp - 12) << what;
                        EXPECT_LT(travelled, kRunUp) << what;
                    } else {
                        EXPECT_GE(travelled, 2 * kRunUp) << what << " was stopped";
                    }
                }
            }
}
