#pragma once
// The score tally between stages and the stage counter.
#include <cstdint>
#include <string>

namespace kdv {

struct Game;

struct TallyState {
    int32_t originX = 0;
    int32_t originY = 0;
    int32_t rowOffset = 0;
    int32_t phase = 0;  // 1..4 kind rows, 5 totals, 6 closing wait
    int32_t total1 = 0;
    int32_t total2 = 0;
    int32_t period = 0;
    int32_t nextDue = 0;
};

void StartTally(Game& game, bool twoPlayers);
void TallyFrame(Game& game, bool twoPlayers);
void NextStage(Game& game);
// Stages in the level file: its size in records, minus the demonstration's.
int32_t CountLevels(Game& game);
std::string PadText(const std::string& text, size_t width, char fill, bool left);

}  // namespace kdv
