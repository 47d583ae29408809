#include "core/field/bullet.h"

#include "core/game.h"

namespace kdv {

// Not built yet: the game runs without bullets until they land.
void LaunchBullet(Game&, Bullet&, int, int, uint8_t, uint8_t) {}
void DrawBullet(Game&, const Bullet&) {}
void BulletTick(Game&, Bullet&) {}
uint8_t ProbeRow(const Game&, int, int) {
    return 0;
}
uint8_t ProbeColumn(const Game&, int, int) {
    return 0;
}
void ShowBurst(Game&, Bullet&) {}
void LaunchPlayerBullet(Game&, Bullet&, int, int, uint8_t, uint8_t) {}
void DrawPlayerBullet(Game&, const Bullet&) {}
void PlayerBulletStep(Game&, Bullet&) {}
void ShowPlayerBurst(Game&, Bullet&) {}

}  // namespace kdv
