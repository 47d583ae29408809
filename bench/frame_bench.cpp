// The frame step with presentation at 640 x 400: the demonstration, a one-player and a
// two-player stage, and the presenter alone on frames that change completely; and the yardstick
// the frame step is measured against, one copy of a whole 64,000-byte screen.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "adapters/disk_files.h"
#include "adapters/virtual_devices.h"
#include "core/flow/game_flow.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "core/screen/present.h"
#include "recording/recorded_game.h"

namespace {

struct Bench : adapters::VirtualPlatform {
    adapters::DiskFiles files{KORDAVEL_ROOT};
    recording::RecordedGame recorded;
    std::unique_ptr<kdv::Game> game;

    explicit Bench(bool recording = false)
        : recorded(recording ? recording::Keep::GamesAndRun : recording::Keep::Nothing) {
        game = recorded.Make(ServicesWith(files));
        kdv::FormCreate(*game);
        if (!kdv::FormActivate(*game)) throw std::runtime_error("no data files in " KORDAVEL_ROOT);
        recorded.Begin();
    }
    void Tick() {
        recorded.Tick();
        clock.now += kdv::kTimerInterval;
    }
};

void BM_DemoTick(benchmark::State& state) {
    Bench b;
    kdv::ClickMenu(*b.game, "MDemo");
    for (auto _ : state) {
        b.Tick();
        if (b.game->GameState != kdv::gsDemo) kdv::ClickMenu(*b.game, "MDemo");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DemoTick);

// Arg 1: with the replay recorder in front of the devices, as in the window. The direction
// changes every 16 ticks, so the recorder has something to note.
void BM_OnePlayerTick(benchmark::State& state) {
    Bench b(state.range(0) != 0);
    kdv::ClickMenu(*b.game, "MStart1Player");
    b.input.SetKey(32, true);  // Start
    b.Tick();
    b.input.SetKey(32, false);
    b.input.SetKey(17, true);  // hold fire
    int tick = 0;
    for (auto _ : state) {
        if (++tick % 16 == 0) {
            b.input.SetKey(37 + (tick / 16) % 4, false);
            b.input.SetKey(37 + (tick / 16 + 1) % 4, true);
        }
        b.Tick();
        if (b.game->GameState != kdv::gsPlay) {
            kdv::ClickMenu(*b.game, "MStart1Player");
            kdv::StartStage(*b.game);
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OnePlayerTick)->ArgName("recording")->Arg(0)->Arg(1);

// Both players firing and turning, each on keys of its own.
void BM_TwoPlayerTick(benchmark::State& state) {
    Bench b;
    kdv::ClickMenu(*b.game, "MStart2Player");
    b.input.SetKey(32, true);  // Start
    b.Tick();
    b.input.SetKey(32, false);
    b.input.SetKey(17, true);  // both hold fire
    b.input.SetKey(16, true);
    const int player2[4] = {87, 90, 65, 83};
    int tick = 0;
    for (auto _ : state) {
        if (++tick % 16 == 0) {
            const int turn = tick / 16;
            b.input.SetKey(37 + turn % 4, false);
            b.input.SetKey(37 + (turn + 1) % 4, true);
            b.input.SetKey(player2[turn % 4], false);
            b.input.SetKey(player2[(turn + 1) % 4], true);
        }
        b.Tick();
        if (b.game->GameState != kdv::gsPlay) {
            kdv::ClickMenu(*b.game, "MStart2Player");
            kdv::StartStage(*b.game);
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TwoPlayerTick);

void BM_Memcpy64000(benchmark::State& state) {
    std::vector<uint8_t> from(64000, 7), to(64000);
    for (auto _ : state) {
        benchmark::DoNotOptimize(from.data());
        std::memcpy(to.data(), from.data(), from.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * 64000);
}
BENCHMARK(BM_Memcpy64000);

// The worst case of the presenter: every pixel differs from the frame before.
void BM_PresentChangingFrame(benchmark::State& state) {
    Bench b;
    b.game->Settings.smallScreen = state.range(0) != 0;
    uint8_t shade = 0;
    for (auto _ : state) {
        kdv::FillScreen(b.game->FrameScreen, ++shade);
        b.game->PresentToggle = 0;  // present every call
        kdv::PresentFrame(*b.game);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PresentChangingFrame)->Arg(0)->Arg(1);

}  // namespace

// KORDAVEL_BENCH_TICKS=N adds the frame steps again as "fixed/...", each exactly N ticks: the
// same ticks in every run, for counting instructions (valgrind --tool=callgrind).
int main(int argc, char** argv) {
    if (const char* ticks = std::getenv("KORDAVEL_BENCH_TICKS")) {
        const auto n = benchmark::IterationCount(std::strtoll(ticks, nullptr, 10));
        if (n > 0) {
            benchmark::RegisterBenchmark("fixed/BM_DemoTick", BM_DemoTick)->Iterations(n);
            benchmark::RegisterBenchmark("fixed/BM_OnePlayerTick", BM_OnePlayerTick)
                ->Arg(0)
                ->Iterations(n);
            benchmark::RegisterBenchmark("fixed/BM_TwoPlayerTick", BM_TwoPlayerTick)->Iterations(n);
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
