#pragma once
// Bullets: the record every tank owns, the computer tanks' fire and the flight of the players'
// bullets. A bullet finds what it runs into by reading pixel colours of the frame.
#include <cstdint>

namespace kdv {

struct Game;

// What stopped a bullet.
enum HitKind : uint8_t {
    hitFrame = 0,
    hitSteel = 1,
    hitBrick = 2,
    hitBase = 3,
    hitPlayer1 = 4,
    hitPlayer2 = 5,
    hitEnemy = 6,
    hitBrickBesideSteel = 7,
    hitBullet = 8,
};

constexpr uint8_t kBulletStopped = 5;  // state of a bullet that has hit something

struct Bullet {
    int32_t nextStepTick = 0;
    int32_t stepPeriod = 0;
    int32_t nextBurstTick = 0;
    int32_t burstPeriod = 0;
    uint16_t x = 0, y = 0;
    uint8_t state = 0;  // 1 up, 2 down, 3 left, 4 right, 5 stopped
    uint8_t speed = 0;
    uint8_t lastDirection = 0;
    uint8_t power = 0;
    uint8_t burstFrames = 0;
    uint8_t hitKind = 0;
    uint8_t owner = 0;  // players' bullets: the player number
    bool done = false;
};

// Computer tanks' bullets.
void LaunchBullet(Game& game, Bullet& bullet, int tankX, int tankY, uint8_t power,
                  uint8_t direction);
void DrawBullet(Game& game, const Bullet& bullet);
void BulletTick(Game& game, Bullet& bullet);

// The pixel that decides a probe: the first of four pixels along the row (x - 1 .. x + 2) or
// column (y - 1 .. y + 2) that is not 0, 1 or 9, else the fourth.
uint8_t ProbeRow(const Game& game, int x, int y);
uint8_t ProbeColumn(const Game& game, int x, int y);
void ShowBurst(Game& game, Bullet& bullet);
// A weak bullet's bite out of brick: a strip on the 4-pixel grid at its front, 16 pixels
// across the path and 5 along it.
void BreakBrickStrip(Game& game, const Bullet& bullet);
// A bullet stopped at a player's tank (hit kind 4 or 5): the tank is lost unless its shield is
// up; the bullet is spent either way.
void StrikePlayerTank(Game& game, Bullet& bullet);
// A bullet stopped in the base (hit kind 3), a player's or a computer tank's: the base falls,
// unless the game is already lost or the stage over. True when it fell; the bullet is spent
// either way.
bool StrikeBase(Game& game, Bullet& bullet);

// Players' bullets.
void LaunchPlayerBullet(Game& game, Bullet& bullet, int tankX, int tankY, uint8_t power,
                        uint8_t direction);
void DrawPlayerBullet(Game& game, const Bullet& bullet);
void PlayerBulletStep(Game& game, Bullet& bullet);
void ShowPlayerBurst(Game& game, Bullet& bullet);

}  // namespace kdv
