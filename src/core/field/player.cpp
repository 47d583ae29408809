#include "core/field/player.h"

#include "core/game.h"

namespace kdv {

// Not built yet.
void NewGameTank(Game&, int, int, int, uint8_t) {}
void StageTank(Game&, int, int, int, uint8_t) {}
void RespawnTank(Game&, int, int, int, uint8_t) {}
void CommandDirection(Game&, PlayerTank&, uint8_t) {}
void CommandFire(Game&, PlayerTank&) {}
void PlayerTick(Game&, int) {}
void DrawPlayerTank(Game&, const PlayerTank&) {}
void StartShield(Game&, ShieldTimer&) {}
void DrawShield(Game&, PlayerTank&) {}
void LockPlayer(PlayerTank& tank) {
    tank.locked = true;
}
void DestroyPlayer(Game&, int) {}
void Autopilot(Game&, int) {}

}  // namespace kdv
