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
#include "core/screen/present.h"
#include "support/png.h"
#include <cstdlib>

namespace runner {
namespace {

// One game on the data under root, standing at the intro of the given stage.
struct CurveGame {
    CurveGame(const CommandLine& options, int stage, int run) : files(options.root) {
        platform.window.onMessage = [this](const std::string& text) { message = text; };
        game = kdv::MakeGame(platform.ServicesWith(files));
        kdv::FormCreate(*game);
        if (!kdv::FormActivate(*game)) throw std::runtime_error(message);
        if (stage > game->LevelCount)
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

template <typename Field>
double Mean(const std::vector<StageRun>& runs, Field field) {
    double sum = 0;
    for (const StageRun& r : runs) sum += double(field(r));
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
        if (getenv("KDV_SHOT")) {
            auto& game = *idle.game;
            std::vector<uint8_t> rgb(size_t(kdv::kScreenPixels) * 3);
            const uint8_t* frame = game.FrameScreen.bytes.data() + kdv::kPresentOffset;
            for (int i = 0; i < kdv::kScreenPixels; ++i)
                kdv::PixelToRgb(game.PixelTable[frame[i]], game.Settings.paletteType, &rgb[size_t(i) * 3]);
            support::WritePng(std::string(getenv("KDV_SHOT")) + std::to_string(stage) + "-" + std::to_string(run) + "-" + std::to_string(r.idleStood/76) + ".png", kdv::kScreenWidth, kdv::kScreenHeight, rgb);
        }
        r.idleBaseShot = idle.game->counters.baseShot > 0;
        figures.runs.push_back(r);
    }
    return figures;
}

void PrintCurve(std::ostream& out, const std::vector<StageFigures>& curve) {
    char line[160];
    out << "stage  kills  lost  stood_s    won  idle_min_s  idle_mean_s  idle_shot\n";
    for (const StageFigures& f : curve) {
        const double perSecond = f.ticksPerSecond;
        const int runs = int(f.runs.size());
        int wins = 0, idleShot = 0;
        int32_t idleMin = kCurveIdleLimit;
        for (const StageRun& r : f.runs) {
            wins += r.won;
            idleShot += r.idleBaseShot;
            idleMin = std::min(idleMin, r.idleStood);
        }
        const double kills = Mean(f.runs, [](const StageRun& r) { return r.kills; });
        const double lost = Mean(f.runs, [](const StageRun& r) { return r.livesLost; });
        const double stood = Mean(f.runs, [](const StageRun& r) { return r.baseStood; });
        const double idle = Mean(f.runs, [](const StageRun& r) { return r.idleStood; });
        std::snprintf(line, sizeof line, "%5d  %5.1f  %4.1f  %7.1f  %2d/%-2d  %10.1f  %11.1f  %5d/%-2d\n",
                      f.stage, kills, lost, stood / perSecond, wins, runs, idleMin / perSecond,
                      idle / perSecond, idleShot, runs);
        out << line;
    }
}

int RunStageCurve(const CommandLine& options) {
    std::vector<StageFigures> curve;
    try {
        for (int stage = options.firstStage; stage <= options.lastStage; ++stage) {
            curve.push_back(MeasureStage(options, stage, options.seeds));
        }
    } catch (const std::exception& error) {
        std::cerr << "kordavel: " << error.what() << "\n";
        return kExitStartup;
    }
    PrintCurve(std::cout, curve);
    return kExitOk;
}

}  // namespace runner
