#pragma once
// The computer tanks: entry, drawing, strides, turning and firing, hits and freezing.
#include <cstdint>

#include "core/field/bullet.h"
#include "core/field/explosion.h"

namespace kdv {

struct Game;

struct EnemyTank {
    int32_t nextStepTick = 0;
    int32_t stepPeriod = 0;
    int32_t nextFireTick = 0;
    int32_t firePeriod = 0;
    int32_t starPeriod = 0;
    int32_t frozenUntil = 0;
    int32_t freezeDuration = 0;
    uint16_t x = 0, y = 0;
    uint8_t spriteBase = 0;
    uint8_t moveDirection = 0;
    uint8_t facing = 0;
    bool started = false;
    uint8_t colourOffset = 0;
    uint8_t stepsLeft = 0;
    uint8_t bulletPower = 0;
    uint8_t kind = 0;
    uint8_t armour = 0;
    Explosion explosion;
    Bullet bullet;
    bool alive = false;
    bool mayTurn = false;
    bool trackPhase = false;
    bool entering = false;
    bool blocked = false;
    bool frozen = false;
};

constexpr int kEnemySlots = 10;

// Empties a slot for a new stage: not alive, not entering, explosion off, bullet done.
void ResetEnemySlot(EnemyTank& tank);
void SpawnEnemy(Game& game, EnemyTank& tank, int x, int y, uint8_t spriteBase, uint8_t kind);
void DrawEnemy(Game& game, EnemyTank& tank);
void EnemyTick(Game& game, EnemyTank& tank);
void EnemyHit(Game& game, EnemyTank& tank);
void DestroyEnemy(Game& game, EnemyTank& tank);
void FreezeEnemy(Game& game, EnemyTank& tank);
// The first slot 1..10 whose live tank covers (px, py) with a one-pixel margin; 0 when none.
int FindEnemyAt(const Game& game, int px, int py);

}  // namespace kdv
