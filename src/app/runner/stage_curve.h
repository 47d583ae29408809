#pragma once
// The stage curve: stages played from their start in a one-player game, once with the autopilot
// driving player 1 and once with nobody at the keys, over several runs, so that how hard each
// stage is comes from play rather than from looking at its map.
#include <cstdint>
#include <iosfwd>
#include <utility>
#include <vector>

#include "app/runner/command_line.h"

namespace runner {

struct StageRun {
    int kills = 0;          // computer tanks destroyed by the autopilot
    int livesLost = 0;      // the autopilot's tanks lost
    int32_t baseStood = 0;  // ticks from the start until the game was lost or the stage won
    bool won = false;
    int32_t idleStood = 0;      // the same with nobody playing
    bool idleBaseShot = false;  // ... and it ended with a bullet in the base, not four tanks lost
};

struct StageFigures {
    int stage = 0;
    int32_t ticksPerSecond = 1;  // the game's FramesPerSecond
    std::vector<StageRun> runs;  // one per seed
};

// Ticks after which a run is stopped and counted as standing that long.
constexpr int32_t kCurvePlayLimit = 76 * 600;
constexpr int32_t kCurveIdleLimit = 76 * 300;
// Run k starts the game's one random generator where it stands after k * kDrawsBetweenRuns
// draws from program start; run 0 is the game as launched. The generator runs through all 2^32
// states, so every run is a game the program can really play, e.g. after demonstrations.
constexpr uint32_t kDrawsBetweenRuns = 100003;

// Plays one stage of the level file under options.root with the settings found there. Throws
// std::runtime_error when the data cannot be loaded, the stage is missing or a step fails.
StageFigures MeasureStage(const CommandLine& options, int stage, int seeds);
// One line per stage, then the means of each range.
void PrintCurve(std::ostream& out, const std::vector<StageFigures>& curve,
                const std::vector<std::pair<int, int>>& ranges);
int RunStageCurve(const CommandLine& options);

}  // namespace runner
