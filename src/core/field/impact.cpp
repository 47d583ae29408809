#include "core/field/impact.h"

#include "core/game.h"

namespace kdv {

// Not built yet.
void PlayerBulletTick(Game&, int) {}
void AwardKill(Game&, int, int) {}

}  // namespace kdv
