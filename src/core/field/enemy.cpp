#include "core/field/enemy.h"

#include "core/game.h"

namespace kdv {

// Not built yet.
void ResetEnemySlot(EnemyTank& tank) {
    tank.alive = false;
    tank.entering = false;
    tank.explosion.active = false;
    tank.bullet.done = true;
}
void SpawnEnemy(Game&, EnemyTank&, int, int, uint8_t, uint8_t) {}
void DrawEnemy(Game&, EnemyTank&) {}
void EnemyTick(Game&, EnemyTank&) {}
void EnemyHit(Game&, EnemyTank&) {}
void DestroyEnemy(Game&, EnemyTank&) {}
void FreezeEnemy(Game&, EnemyTank&) {}
int FindEnemyAt(const Game&, int, int) {
    return 0;
}

}  // namespace kdv
