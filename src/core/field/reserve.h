#pragma once
// The stage's twenty computer tanks waiting to arrive, the stage clear, the side panel, and the
// animation of the animated map tiles.
#include <cstdint>

namespace kdv {

struct Game;

struct EnemyReserve {
    int32_t nextArrivalTick = 0;
    int32_t arrivalPeriod = 0;
    int32_t clearTick = 0;
    int32_t clearDelay = 0;
    uint8_t remaining = 0;
    uint8_t nextPlace = 0;
    bool StageWon = false;
};

struct TileAnimation {
    int32_t nextToggleTick = 0;
    int32_t togglePeriod = 0;
    bool phase = false;
};

// Stage start: the first three arrivals and the tile animation timer.
void StartReserve(Game& game);
void ReserveStep(Game& game);
void DrawReserveIcons(Game& game);
void DrawLivesCounter(Game& game, int player);
// The lives counters of the first `players` players, then the reserve icons, over whatever
// the frame holds there: held from an earlier tick where nothing changed.
void DrawPanel(Game& game, int players);
void TileAnimationStep(Game& game);

}  // namespace kdv
