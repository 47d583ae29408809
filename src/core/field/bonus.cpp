#include "core/field/bonus.h"

#include "core/game.h"

namespace kdv {

// Not built yet.
void PlaceBonus(Game&) {}
void BonusStep(Game&) {}
void StartFortification(Game&) {}
void FortificationStep(Game&) {}
void ClearBonusAndFortification(Game& game) {
    game.Bonus.active = false;
    game.BaseFortification.active = false;
}

}  // namespace kdv
