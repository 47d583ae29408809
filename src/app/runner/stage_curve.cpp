#include "app/runner/stage_curve.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>
#include <numeric>
#include <set>
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

// The figures of a line, averaged over runs (and stages).
struct Means {
    double kills = 0, lost = 0, stood = 0, won = 0, idleMin = 0, idle = 0, idleShot = 0;
};

Means MeansOf(const StageFigures& f) {
    Means m;
    const double runs = double(std::max<size_t>(f.runs.size(), 1));
    const double perSecond = f.ticksPerSecond;
    int32_t idleMin = kCurveIdleLimit;
    for (const StageRun& r : f.runs) {
        m.kills += r.kills / runs;
        m.lost += r.livesLost / runs;
        m.stood += r.baseStood / perSecond / runs;
        m.won += r.won;
        m.idle += r.idleStood / perSecond / runs;
        m.idleShot += r.idleBaseShot;
        idleMin = std::min(idleMin, r.idleStood);
    }
    m.idleMin = idleMin / perSecond;
    return m;
}

void PrintLine(std::ostream& out, const std::string& label, const Means& m, int runs) {
    const std::string won = std::to_string(int(m.won)) + "/" + std::to_string(runs);
    const std::string shot = std::to_string(int(m.idleShot)) + "/" + std::to_string(runs);
    char line[200];
    std::snprintf(line, sizeof line, "%-6s %6.1f %5.1f %8.1f %6s %11.1f %11.1f %10s\n",
                  label.c_str(), m.kills, m.lost, m.stood, won.c_str(), m.idleMin, m.idle,
                  shot.c_str());
    out << line;
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
        r.idleBaseShot = idle.game->counters.baseShot > 0;
        figures.runs.push_back(r);
    }
    return figures;
}

void PrintCurve(std::ostream& out, const std::vector<StageFigures>& curve,
                const std::vector<std::pair<int, int>>& ranges) {
    out << "stage   kills  lost  stood_s    won  idle_min_s idle_mean_s  idle_shot\n";
    for (const StageFigures& f : curve)
        PrintLine(out, std::to_string(f.stage), MeansOf(f), int(f.runs.size()));
    for (auto [first, last] : ranges) {
        Means sum;
        int stages = 0, runs = 0;
        for (const StageFigures& f : curve) {
            if (f.stage < first || f.stage > last) continue;
            const Means m = MeansOf(f);
            sum.kills += m.kills, sum.lost += m.lost, sum.stood += m.stood;
            sum.won += m.won, sum.idleMin += m.idleMin;
            sum.idle += m.idle, sum.idleShot += m.idleShot;
            ++stages;
            runs += int(f.runs.size());
        }
        if (stages == 0) continue;
        for (double* v : {&sum.kills, &sum.lost, &sum.stood, &sum.idleMin, &sum.idle}) *v /= stages;
        PrintLine(out, std::to_string(first) + "-" + std::to_string(last), sum, runs);
    }
}

int RunStageCurve(const CommandLine& options) {
    std::vector<StageFigures> curve;
    std::vector<std::pair<int, int>> ranges = options.stageRanges;
    try {
        const int stages = CurveGame(options, 0, 0).game->LevelCount;
        if (ranges.empty()) ranges.push_back({1, stages});
        for (auto [first, last] : ranges)
            if (last > stages)
                throw std::runtime_error("the level file has no stage " + std::to_string(last));
        std::set<int> wanted;  // each stage once, however the ranges overlap
        for (auto [first, last] : ranges)
            for (int stage = first; stage <= last; ++stage) wanted.insert(stage);
        for (int stage : wanted) curve.push_back(MeasureStage(options, stage, options.seeds));
    } catch (const std::exception& error) {
        std::cerr << "kordavel: " << error.what() << "\n";
        return kExitStartup;
    }
    PrintCurve(std::cout, curve, ranges);
    return kExitOk;
}

}  // namespace runner
