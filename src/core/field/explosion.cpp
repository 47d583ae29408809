#include "core/field/explosion.h"

#include "core/game.h"

namespace kdv {

// Not built yet.
void StartExplosion(Game&, Explosion&, int, int) {}
void ExplosionStep(Game&, Explosion&) {}
void BaseFalls(Game&) {}
void StartPlayerCaption(Game&, int) {}
void BaseCaptionStep(Game&) {}
void PlayerCaptionStep(Game&, int) {}
void ApplyGameOverRules(Game&, bool) {}
void ClearCaptions(Game& game) {
    game.GameOverCaption.base.active = false;
    game.GameOverCaption.player1.active = false;
    game.GameOverCaption.player2.active = false;
}

}  // namespace kdv
