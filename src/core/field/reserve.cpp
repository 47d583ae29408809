#include "core/field/reserve.h"

#include "core/game.h"

namespace kdv {

// Not built yet.
void StartReserve(Game&) {}
void ReserveStep(Game&) {}
void DrawReserveIcons(Game&) {}
void DrawLivesCounter(Game&, int) {}
void TileAnimationStep(Game&) {}

}  // namespace kdv
