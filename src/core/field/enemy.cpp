#include "core/field/enemy.h"

#include "core/field/map.h"
#include "core/flow/game_flow.h"
#include "core/flow/game_state.h"
#include "core/game.h"
#include "core/random.h"
#include "core/screen/graphics_pack.h"
#include "core/sound/sound.h"

namespace kdv {
namespace {

constexpr uint8_t kStride = 8;
constexpr uint8_t kStarPictures = 8;
constexpr int kStarSprite = 78;
constexpr int kBaseColumnX = 112;

bool IsArmoured(uint8_t kind) {
    return kind == 3 || kind == 7;
}
bool IsFast(uint8_t kind) {
    return kind == 1 || kind == 5;
}
bool CarriesBonus(uint8_t kind) {
    return kind >= 4 && kind <= 7;
}

// The line just outside the side the tank would move to; a tank never sees its own pixels.
bool WayIsClear(const Game& game, const EnemyTank& tank, uint8_t direction) {
    const int x = tank.x, y = tank.y;
    switch (direction) {
        case dirUp:
            return RowIsClear(game, x, y - 1);
        case dirDown:
            return RowIsClear(game, x, y + 16);
        case dirLeft:
            return ColumnIsClear(game, x - 1, y);
        default:
            return ColumnIsClear(game, x + 16, y);
    }
}

void StepOnePixel(EnemyTank& tank, uint8_t direction) {
    switch (direction) {
        case dirUp:
            --tank.y;
            break;
        case dirDown:
            ++tank.y;
            break;
        case dirLeft:
            --tank.x;
            break;
        default:
            ++tank.x;
            break;
    }
}

void SetDirection(EnemyTank& tank, uint8_t direction) {
    if (!tank.alive || !tank.mayTurn) return;
    tank.moveDirection = direction;
    tank.facing = direction;
}

// The wait restarts even when the bullet is still out and the launch does nothing.
void TryToFire(Game& game, EnemyTank& tank) {
    const int32_t now = GetClock(game);
    if (!tank.alive || now < tank.nextFireTick) return;
    tank.nextFireTick = now + tank.firePeriod;
    LaunchBullet(game, tank.bullet, tank.x, tank.y, tank.bulletPower, tank.facing);
}

// Biased towards turning down, to the base.
void RandomTurn(Game& game, EnemyTank& tank) {
    const int32_t r = Random(game, 2);
    switch (tank.facing) {
        case dirUp:
            SetDirection(tank, r == 0 ? dirDown : dirRight);
            break;
        case dirDown:
            if (r == 0)
                SetDirection(tank, tank.x >= kBaseColumnX ? dirLeft : dirRight);
            else
                SetDirection(tank, dirLeft);
            break;
        case dirLeft:
            SetDirection(tank, r == 0 ? dirDown : dirUp);
            break;
        case dirRight:
            SetDirection(tank, dirDown);
            break;
        default:
            break;
    }
    TryToFire(game, tank);
    tank.started = true;
}

void Decide(Game& game, EnemyTank& tank) {
    if (tank.frozen) {
        if (GetClock(game) < tank.frozenUntil) return;
        tank.frozen = false;
    }
    if (!tank.mayTurn) return;
    if (!tank.started) {
        TryToFire(game, tank);
        SetDirection(tank, dirDown);
        tank.started = true;
    }
    if (!tank.blocked) {
        TryToFire(game, tank);
        SetDirection(tank, tank.facing);
        tank.started = true;
        if (Random(game, 120) == 1) RandomTurn(game, tank);
    } else {
        RandomTurn(game, tank);
    }
}

void Move(Game& game, EnemyTank& tank) {
    tank.mayTurn = false;
    tank.trackPhase = !tank.trackPhase;
    if (tank.moveDirection == 0) {
        tank.trackPhase = true;
        tank.mayTurn = true;
        return;
    }
    if (WayIsClear(game, tank, tank.moveDirection)) {
        StepOnePixel(tank, tank.moveDirection);
        --tank.stepsLeft;
        tank.blocked = false;
    } else {
        tank.trackPhase = true;
        tank.mayTurn = true;
        tank.moveDirection = 0;
        tank.blocked = true;
    }
}

}  // namespace

void ResetEnemySlot(EnemyTank& tank) {
    tank.alive = false;
    tank.entering = false;
    tank.explosion.active = false;
    tank.bullet.done = true;
}

void SpawnEnemy(Game& game, EnemyTank& tank, int x, int y, uint8_t spriteBase, uint8_t kind) {
    const int32_t now = GetClock(game);
    tank.x = uint16_t(x);
    tank.y = uint16_t(y);
    tank.spriteBase = spriteBase;
    tank.kind = kind;
    tank.alive = false;
    tank.entering = true;
    tank.mayTurn = true;
    tank.trackPhase = true;
    tank.started = false;
    tank.blocked = false;
    tank.frozen = false;
    tank.moveDirection = 0;
    tank.facing = dirDown;
    tank.stepsLeft = kStarPictures;
    tank.bulletPower = 0;
    tank.armour = IsArmoured(kind) ? 4 : 1;
    tank.colourOffset = CarriesBonus(kind) ? 16 : 0;
    tank.starPeriod = game.StarPeriod;
    tank.stepPeriod = IsFast(kind) ? 2 : 4;
    tank.nextStepTick = now + tank.stepPeriod;
    tank.firePeriod = 200;
    tank.nextFireTick = now + tank.firePeriod;
    tank.freezeDuration = 1920;
    tank.explosion.active = false;
    tank.bullet.done = true;
}

void DrawEnemy(Game& game, EnemyTank& tank) {
    if (tank.entering) {
        // The star's pictures run on the step timer; the tank comes alive after the eighth.
        const int32_t now = GetClock(game);
        if (now >= tank.nextStepTick) {
            tank.nextStepTick = now + tank.starPeriod;
            --tank.stepsLeft;
            tank.trackPhase = !tank.trackPhase;
        }
        DrawSprite(game, tank.x, tank.y, tank.trackPhase ? kStarSprite : kStarSprite + 1,
                   game.FrameScreen, 0);
        if (tank.stepsLeft == 0) {
            tank.entering = false;
            tank.trackPhase = true;
            tank.alive = true;
            tank.stepsLeft = kStride;
            tank.nextStepTick = now + tank.stepPeriod;
        }
        return;
    }
    if (!tank.alive) return;
    const int sprite =
        tank.spriteBase + (tank.facing - 1) + (tank.trackPhase ? 0 : 4) + 8 * (tank.kind % 4);
    DrawSprite(game, tank.x, tank.y, sprite, game.FrameScreen, tank.colourOffset);
}

void EnemyTick(Game& game, EnemyTank& tank) {
    const int32_t now = GetClock(game);
    if (!tank.alive || now < tank.nextStepTick) return;
    Move(game, tank);
    tank.nextStepTick = now + tank.stepPeriod;
    Decide(game, tank);
    // The end of a stride: the next step stands still and lets the tank decide.
    if (tank.stepsLeft == 0) {
        tank.mayTurn = true;
        tank.moveDirection = 0;
        tank.stepsLeft = kStride;
    }
}

void EnemyHit(Game& game, EnemyTank& tank) {
    if (!tank.alive) return;
    if (tank.armour > 0) --tank.armour;
    if (tank.armour > 0)
        PlaySound(game, 100, sfxClank);
    else
        DestroyEnemy(game, tank);
}

void DestroyEnemy(Game& game, EnemyTank& tank) {
    if (!tank.alive) return;
    tank.alive = false;
    StartExplosion(game, tank.explosion, tank.x, tank.y);
    PlaySound(game, 100, sfxEnemyDestroyed);
}

void FreezeEnemy(Game& game, EnemyTank& tank) {
    tank.frozen = true;
    tank.frozenUntil = GetClock(game) + tank.freezeDuration;
}

int FindEnemyAt(const Game& game, int px, int py) {
    for (int slot = 1; slot <= kEnemySlots; ++slot) {
        const EnemyTank& tank = game.Enemy(slot);
        if (!tank.alive) continue;
        if (px >= tank.x - 1 && px <= tank.x + 16 && py >= tank.y - 1 && py <= tank.y + 16)
            return slot;
    }
    return 0;
}

}  // namespace kdv
