// The frame step with presentation at 640 x 400: the demonstration, a one-player stage, and
// the presenter alone on frames that change completely.
#include <benchmark/benchmark.h>

#include "adapters/disk_files.h"
#include "adapters/virtual_devices.h"
#include "core/flow/game_flow.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "core/screen/present.h"
#include "replay/recorder.h"

namespace {

struct Bench : adapters::VirtualPlatform {
    adapters::DiskFiles files{KORDAVEL_ROOT};
    std::unique_ptr<kdv::Game> game;
    std::unique_ptr<replay::Recorder> recorder;

    explicit Bench(bool recording = false) {
        kdv::Services services = ServicesWith(files);
        if (recording) {
            recorder = std::make_unique<replay::Recorder>();
            services = recorder->Wrap(services);
        }
        game = kdv::MakeGame(services);
        kdv::FormCreate(*game);
        if (!kdv::FormActivate(*game)) throw std::runtime_error("no data files in " KORDAVEL_ROOT);
        if (recorder) recorder->Begin(*game, files);
    }
    void Tick() {
        if (recorder) recorder->BeforeTick(*game);
        kdv::DXTimerTimer(*game);
        if (recorder) recorder->AfterTick(*game);
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

BENCHMARK_MAIN();
