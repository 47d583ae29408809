#pragma once
// The players' tanks: placing them, direction and fire commands, the stride-by-stride movement
// over the frame, drawing, the spawn shield, losing a life, and the demonstration's autopilot.
#include <array>
#include <cstdint>

#include "core/field/bullet.h"
#include "core/field/explosion.h"

namespace kdv {

struct Game;

struct ShieldTimer {
    int32_t endTick = 0;
    int32_t duration = 0;
    int32_t nextFlashTick = 0;
    int32_t flashPeriod = 0;
    bool phase = false;
    bool active = false;
};

struct PlayerTank {
    int32_t nextStepTick = 0;
    int32_t stepPeriod = 0;
    int32_t score = 0;
    uint16_t x = 0, y = 0;
    uint8_t spriteBase = 0;
    uint8_t commandedDirection = 0;
    uint8_t facing = 0;
    bool autopilotFired = false;
    uint8_t autopilotTargetKind = 0;  // 0 none, 1 the bonus, 2 a computer tank
    uint8_t autopilotTargetSlot = 0;
    uint8_t colourOffset = 0;
    uint8_t stepsLeft = 0;
    uint8_t level = 0;
    uint8_t lives = 0;
    std::array<uint8_t, 4> kills{};
    ShieldTimer shield;
    Explosion explosion;
    Bullet bullet;
    bool alive = false;
    bool acceptsCommand = false;
    bool trackPhase = false;
    bool locked = false;
    bool mayRespawn = false;
    bool blocked = false;
    bool autopilotHasTarget = false;
};

constexpr int kPlayer1X = 80, kPlayer2X = 144, kPlayerStartY = 180;

// The three ways a tank is put on the field. player is 1 or 2.
void NewGameTank(Game& game, int player, int x, int y, uint8_t colourOffset);
void StageTank(Game& game, int player, int x, int y, uint8_t colourOffset);
void RespawnTank(Game& game, int player, int x, int y, uint8_t colourOffset);

void CommandDirection(Game& game, PlayerTank& tank, uint8_t direction);
void CommandFire(Game& game, PlayerTank& tank);
void PlayerTick(Game& game, int player);
void DrawPlayerTank(Game& game, const PlayerTank& tank);
void StartShield(Game& game, ShieldTimer& shield);
void DrawShield(Game& game, PlayerTank& tank);
void LockPlayer(PlayerTank& tank);
void DestroyPlayer(Game& game, int player);
void Autopilot(Game& game, int player);

}  // namespace kdv
