#include "core/field/reserve.h"

#include <algorithm>
#include <array>
#include <span>
#include <string>

#include "core/field/enemy.h"
#include "core/field/map.h"
#include "core/flow/game_flow.h"
#include "core/game.h"
#include "core/screen/font.h"
#include "core/screen/graphics_pack.h"

namespace kdv {
namespace {

constexpr uint8_t kLineupSize = 20;
constexpr uint8_t kEnemySpriteBase = 32;
constexpr uint8_t kAnimatedTile = 13;
constexpr int kAnimatedSprite = 76;

int PlaceX(uint8_t place) {
    return place == 1 ? 16 : place == 2 ? 112 : 208;
}

void SendTank(Game& game, int slot, uint8_t place, uint8_t entry) {
    SpawnEnemy(game, game.Enemy(slot), PlaceX(place), 4, kEnemySpriteBase, game.EnemyLineup[entry]);
}

// Arrivals use slots 1..EnemyLimit only; the table itself has ten.
int UsableSlots(const Game& game) {
    return std::clamp(int(game.EnemyLimit), 0, kEnemySlots);
}

// A tank still showing its entry star holds its slot too: it is about to come alive there.
bool SlotIsFree(const EnemyTank& tank) {
    return !tank.alive && !tank.entering && !tank.explosion.active && tank.bullet.done;
}

bool FieldIsEmpty(const Game& game) {
    for (int slot = 1; slot <= UsableSlots(game); ++slot) {
        const EnemyTank& tank = game.Enemy(slot);
        if (tank.alive || tank.entering) return false;
    }
    return true;
}

bool SomePlayerIsInPlay(const Game& game) {
    return !game.Player(1).locked || !game.Player(2).locked;
}

int FirstFreeSlot(const Game& game) {
    for (int slot = 1; slot <= UsableSlots(game); ++slot)
        if (SlotIsFree(game.Enemy(slot))) return slot;
    return 0;
}

}  // namespace

void StartReserve(Game& game) {
    const int32_t now = GetClock(game);
    EnemyReserve& reserve = game.EnemyReserve;
    reserve.clearDelay = 500;
    reserve.remaining = kLineupSize;
    reserve.nextPlace = 1;
    reserve.StageWon = false;
    SendTank(game, 1, 1, 20);
    SendTank(game, 2, 2, 19);
    SendTank(game, 3, 3, 18);
    reserve.remaining = kLineupSize - 3;
    reserve.arrivalPeriod = 500;
    reserve.nextArrivalTick = now + reserve.arrivalPeriod;

    TileAnimation& tiles = game.TileAnimation;
    tiles.phase = true;
    tiles.togglePeriod = 128;
    tiles.nextToggleTick = now + tiles.togglePeriod;
}

void ReserveStep(Game& game) {
    const int32_t now = GetClock(game);
    EnemyReserve& reserve = game.EnemyReserve;
    if (reserve.StageWon) {
        if (now >= reserve.clearTick) game.StageEnded = true;
        return;
    }
    // A game already lost (every player locked) is not turned into a cleared stage.
    if (reserve.remaining == 0 && FieldIsEmpty(game) && SomePlayerIsInPlay(game)) {
        reserve.StageWon = true;
        reserve.clearTick = now + reserve.clearDelay;
        return;
    }
    if (reserve.remaining == 0 || now < reserve.nextArrivalTick) return;
    // With no free slot the arrival stays due and is tried again next frame.
    const int slot = FirstFreeSlot(game);
    if (slot == 0) return;
    SendTank(game, slot, reserve.nextPlace, reserve.remaining);
    reserve.nextPlace = reserve.nextPlace % 3 + 1;
    --reserve.remaining;
    reserve.nextArrivalTick = now + reserve.arrivalPeriod;
}

namespace {

int IconX(int k) {
    return k % 2 == 1 ? 240 : 272;
}
int IconY(int k) {
    return 6 + 17 * ((k - 1) / 2);
}
int LivesY(int player) {
    return player == 2 ? 180 : 164;
}

void DrawReserveIcon(Game& game, int k) {
    const uint8_t kind = game.EnemyLineup[size_t(k)];
    DrawSprite(game, IconX(k), IconY(k), kEnemySpriteBase + 8 * (kind % 4), game.FrameScreen,
               kind >= 4 ? 16 : 0);
}

}  // namespace

void DrawReserveIcons(Game& game) {
    // The last icon drawn is the tank that arrives next.
    for (int k = 1; k <= game.EnemyReserve.remaining && k <= kLineupSize; ++k)
        DrawReserveIcon(game, k);
}

void DrawLivesCounter(Game& game, int player) {
    const bool second = player == 2;
    const int y = LivesY(player);
    DrawSprite(game, 240, y, 0, game.FrameScreen, second ? 64 : 0);
    DrawText(game, game.GameFont, 260, uint16_t(y + 4), 15,
             " X " + std::to_string(game.Player(player).lives));
}

void DrawPanel(Game& game, int players) {
    // What the panel shows: the lives counters, then the icons; the last icon drawn is the tank
    // that arrives next.
    struct Shows {
        uint8_t counters;
        std::array<uint8_t, 2> lives;
        uint8_t icons;
        std::array<uint8_t, kLineupSize> kinds;
    } shows{};
    static_assert(sizeof shows == 4 + kLineupSize);
    shows.counters = uint8_t(players);
    for (int p = 1; p <= players; ++p) shows.lives[size_t(p - 1)] = game.Player(p).lives;
    shows.icons = std::min(game.EnemyReserve.remaining, kLineupSize);
    for (int k = 1; k <= shows.icons; ++k) shows.kinds[size_t(k - 1)] = game.EnemyLineup[size_t(k)];
    // A counter's text may run to the end of the row.
    auto where = [&](int i) -> HeldPiece {
        if (i < players) return {240, LivesY(i + 1), kScreenWidth - 1, LivesY(i + 1) + 15};
        const int k = i - players + 1;
        return {IconX(k), IconY(k), IconX(k) + 15, IconY(k) + 15};
    };
    auto draw = [&](int i) {
        if (i < players)
            DrawLivesCounter(game, i + 1);
        else
            DrawReserveIcon(game, i - players + 1);
    };
    game.FrameScreen.DrawHeld(shows, players + shows.icons, where, draw);
}

void TileAnimationStep(Game& game) {
    const int32_t now = GetClock(game);
    TileAnimation& tiles = game.TileAnimation;
    if (now < tiles.nextToggleTick) return;
    tiles.nextToggleTick = now + tiles.togglePeriod;
    tiles.phase = !tiles.phase;
    for (int column = 0; column < kMapColumns; ++column)
        for (int row = 0; row < kMapRows; ++row)
            if (game.MapGrid[size_t(column * kMapRows + row)] == kAnimatedTile)
                DrawSprite(game, CellX(column), CellY(row), kAnimatedSprite + (tiles.phase ? 1 : 0),
                           game.BackScreen, 0);
}

}  // namespace kdv
