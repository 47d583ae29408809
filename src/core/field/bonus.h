#pragma once
// The bonus on the field and the steel fortification of the base.
#include <cstdint>

namespace kdv {

struct Game;

struct Bonus {
    int32_t endTick = 0;
    int32_t duration = 0;
    uint16_t x = 0, y = 0;
    uint16_t spriteBase = 0;
    uint8_t kind =
        0;  // 0 upgrade, 1 extra life, 2 freeze, 3 fortification, 4 destroy all, 5 shield
    uint8_t collector = 0;
    bool active = false;
};

struct BaseFortification {
    int32_t endTick = 0;
    int32_t duration = 0;
    uint16_t x = 0, y = 0;
    bool active = false;
};

void PlaceBonus(Game& game);
void BonusStep(Game& game);
void StartFortification(Game& game);
void FortificationStep(Game& game);
// Stage start: no bonus, no fortification.
void ClearBonusAndFortification(Game& game);

}  // namespace kdv
