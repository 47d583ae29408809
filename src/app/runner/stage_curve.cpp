#include "app/runner/stage_curve.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>
#include <numeric>
#include <stdexcept>
#include <string>

#include "adapters/disk_files.h"
#include "adapters/virtual_devices.h"
#include "core/flow/game_flow.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "core/random.h"

namespace runner {
namespace {

// One game on the data under root, standing at the intro of the given stage.
struct CurveGame {
    CurveGame(const CommandLine& options, int stage, int run) : files(options.root) {
        platform.window.onMessage = [this](const std::string& text) { message = text; };
        game = kdv::MakeGame(platform.ServicesWith(files));
        kdv::FormCreate(*game);
        if (!kdv::FormActivate(*game)) throw std::runtime_error(message);
        if (stage > game->LevelCount - 1)
            throw std::runtime_error("the level file has no stage " + std::to_string(stage));
        for (uint32_t i = 0; i < uint32_t(run) * kDrawsBetweenRuns; ++i) kdv::Random(*game, 2);
        kdv::ClickMenu(*game, "MStart1Player");
        game->StageNumber = stage;  // as the level selection dialog does
    }

    // Starts the stage and plays until the game is lost or the stage won, at most limit ticks.
    // Returns the ticks the base stood.
    int32_t Play(int32_t limit) {
        kdv::StartStage(*game);
        const int32_t start = kdv::GetClock(*game);
        while (kdv::GetClock(*game) - start < limit) {
            kdv::DXTimerTimer(*game);
            platform.clock.now += kdv::kTimerInterval;
            if (platform.window.failed) throw std::runtime_error(platform.window.failure);
            if (game->GameOverCaption.base.active) break;
            if (game->EnemyReserve.StageWon) {
                won = true;
                break;
            }
        }
        return kdv::GetClock(*game) - start;
    }

    adapters::DiskFiles files;
    adapters::VirtualPlatform platform;
    std::unique_ptr<kdv::Game> game;
    std::string message;
    bool won = false;
};

double Mean(const std::vector<StageRun>& runs, double (*field)(const StageRun&)) {
    double sum = 0;
    for (const StageRun& r : runs) sum += field(r);
    return runs.empty() ? 0 : sum / double(runs.size());
}


}  // namespace

StageFigures MeasureStage(const CommandLine& options, int stage, int seeds) {
    StageFigures figures;
    figures.stage = stage;
    for (int run = 0; run < seeds; ++run) {
        StageRun r;
        {
            CurveGame played(options, stage, run);
            played.game->autopilotDrivesPlayer1 = true;
            r.baseStood = played.Play(kCurvePlayLimit);
            r.won = played.won;
            const kdv::PlayerTank& p = played.game->Player(1);
            r.kills = std::accumulate(p.kills.begin(), p.kills.end(), 0);
            r.livesLost = int(played.game->soundsPlayed[kdv::sfxPlayerDestroyed]);
            figures.ticksPerSecond = kdv::FramesPerSecond(*played.game);
        }
        CurveGame idle(options, stage, run);
        r.idleStood = idle.Play(kCurveIdleLimit);
        figures.runs.push_back(r);
    }
    return figures;
}

void PrintCurve(std::ostream& out, const std::vector<StageFigures>& curve) {
    char line[160];
    out << "stage  kills  lost  stood_s  won   idle_min_s  idle_mean_s\n";
    for (const StageFigures& f : curve) {
        auto Seconds = [&](double ticks) { return ticks / f.ticksPerSecond; };
        int wins = 0;
        int32_t idleMin = kCurveIdleLimit;
        for (const StageRun& r : f.runs) {
            wins += r.won;
            idleMin = std::min(idleMin, r.idleStood);
        }
        std::snprintf(line, sizeof line, "%5d  %5.1f  %4.1f  %7.1f  %d/%-2d  %10.1f  %11.1f\n",
                      f.stage, Mean(f.runs, [](const StageRun& r) { return double(r.kills); }),
                      Mean(f.runs, [](const StageRun& r) { return double(r.livesLost); }),
                      Seconds(Mean(f.runs, [](const StageRun& r) { return double(r.baseStood); })),
                      wins, int(f.runs.size()), Seconds(idleMin),
                      Seconds(Mean(f.runs, [](const StageRun& r) { return double(r.idleStood); })));
        out << line;
    }
}

int RunStageCurve(const CommandLine& options) {
    std::vector<StageFigures> curve;
    try {
        for (int stage = options.firstStage; stage <= options.lastStage; ++stage) {
            curve.push_back(MeasureStage(options, stage, options.seeds));
            std::cerr << "." << std::flush;
        }
        std::cerr << "\n";
    } catch (const std::exception& error) {
        std::cerr << "\nkordavel: " << error.what() << "\n";
        return kExitStartup;
    }
    PrintCurve(std::cout, curve);
    return kExitOk;
}

}  // namespace runner
