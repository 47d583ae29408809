#include "core/field/bonus.h"

#include <limits>
#include <stdexcept>

#include "core/field/enemy.h"
#include "core/field/player.h"
#include "core/flow/game_flow.h"
#include "core/game.h"
#include "core/random.h"
#include "core/screen/graphics_pack.h"
#include "core/sound/sound.h"

namespace kdv {
namespace {

constexpr int32_t kBonusDuration = 2160;
constexpr uint16_t kBonusSpriteBase = 80;
constexpr int32_t kBonusPoints = 500;
constexpr uint8_t kMaxLevel = 3;
constexpr uint8_t kMaxLives = 255;

constexpr int32_t kFortificationDuration = 2160;
constexpr uint16_t kFortificationX = 96, kFortificationY = 164;
constexpr int kSteelTiles = 70, kBrickTiles = 65;

enum BonusKind : uint8_t { Upgrade, ExtraLife, Freeze, Fortify, DestroyAll, Shield };

// The bonus has its own ranges, not the bullets' colour classes: 128..143 is player 1 and
// 197..212 player 2, so 192..196 belong to nobody.
int PlayerAt(const ScreenBuffer& frame, int x, int y) {
    const uint8_t c = frame.At(x, y);
    if (c >= 128 && c <= 143) return 1;
    if (c >= 197 && c <= 212) return 2;
    return 0;
}

// Looks at exactly 16 pixels from (x, y) in steps of (dx, dy); the first player colour wins.
int Scan(const ScreenBuffer& frame, int x, int y, int dx, int dy) {
    for (int i = 0; i < 16; ++i)
        if (int player = PlayerAt(frame, x + i * dx, y + i * dy)) return player;
    return 0;
}

// Row y and column x lie inside the square, row y + 16 and column x + 16 just outside it.
int FindCollector(const Game& game, int x, int y) {
    const ScreenBuffer& frame = game.FrameScreen;
    if (int p = Scan(frame, x, y, 1, 0)) return p;
    if (int p = Scan(frame, x, y + 16, 1, 0)) return p;
    if (int p = Scan(frame, x, y, 0, 1)) return p;
    return Scan(frame, x + 16, y, 0, 1);
}

void AddScore(PlayerTank& tank, int32_t points) {
    if (tank.score > std::numeric_limits<int32_t>::max() - points)
        throw std::overflow_error("score overflow");
    tank.score += points;
}

void TakeBonus(Game& game, int collector) {
    Bonus& bonus = game.Bonus;
    PlayerTank& tank = game.Player(collector);
    bonus.collector = uint8_t(collector);
    int sound = sfxBonusTaken;
    switch (bonus.kind) {
        case Upgrade:
            if (tank.level < kMaxLevel) ++tank.level;
            break;
        case ExtraLife:
            if (tank.lives < kMaxLives) ++tank.lives;
            sound = sfxExtraLife;
            break;
        case Freeze:
            for (EnemyTank& enemy : game.enemies) FreezeEnemy(game, enemy);
            break;
        case Fortify:
            StartFortification(game);
            break;
        case DestroyAll:
            // Each tank plays its own explosion sound; the bonus adds none.
            for (EnemyTank& enemy : game.enemies) DestroyEnemy(game, enemy);
            sound = -1;
            break;
        case Shield:
            StartShield(game, tank.shield);
            break;
        default:
            break;
    }
    AddScore(tank, kBonusPoints);
    if (sound >= 0) PlaySound(game, 100, sound);
    bonus.active = false;
}

void DrawFortification(Game& game, int firstTile) {
    const int x = game.BaseFortification.x, y = game.BaseFortification.y;
    ScreenBuffer& back = game.BackScreen;
    DrawSprite(game, x, y, firstTile + 2, back, 0);
    DrawSprite(game, x + 16, y, firstTile + 2, back, 0);
    DrawSprite(game, x + 32, y, firstTile + 2, back, 0);
    DrawSprite(game, x, y + 16, firstTile + 3, back, 0);
    DrawSprite(game, x + 32, y + 16, firstTile + 4, back, 0);
}

}  // namespace

void PlaceBonus(Game& game) {
    Bonus& bonus = game.Bonus;
    // Three draws in this order: x, y, kind.
    bonus.x = uint16_t(32 + 8 * Random(game, 22));
    bonus.y = uint16_t(20 + 8 * Random(game, 20));
    bonus.spriteBase = kBonusSpriteBase;
    bonus.kind = uint8_t(Random(game, 6));
    bonus.active = true;
    bonus.duration = kBonusDuration;
    bonus.endTick = GetClock(game) + kBonusDuration;
    PlaySound(game, 100, sfxBonusPlaced);
}

void BonusStep(Game& game) {
    Bonus& bonus = game.Bonus;
    if (!bonus.active) return;
    if (int collector = FindCollector(game, bonus.x, bonus.y)) TakeBonus(game, collector);
    DrawSprite(game, bonus.x, bonus.y, bonus.spriteBase + bonus.kind, game.FrameScreen, 0);
    // Checked after the scan: a bonus touched in its last frame is still taken.
    if (GetClock(game) >= bonus.endTick) bonus.active = false;
}

void StartFortification(Game& game) {
    BaseFortification& fort = game.BaseFortification;
    fort.active = true;
    fort.x = kFortificationX;
    fort.y = kFortificationY;
    fort.duration = kFortificationDuration;
    fort.endTick = GetClock(game) + kFortificationDuration;
    DrawFortification(game, kSteelTiles);
}

void FortificationStep(Game& game) {
    BaseFortification& fort = game.BaseFortification;
    if (!fort.active || GetClock(game) < fort.endTick) return;
    // Whole brick tiles: whatever was shot away around the base comes back.
    DrawFortification(game, kBrickTiles);
    fort.active = false;
}

void ClearBonusAndFortification(Game& game) {
    game.Bonus.active = false;
    game.BaseFortification.active = false;
}

}  // namespace kdv
