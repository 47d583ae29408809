#include "app/runner/headless.h"

#include <chrono>
#include <cstdio>
#include <iostream>

#include "adapters/disk_files.h"
#include "adapters/virtual_devices.h"
#include "app/runner/script.h"
#include "core/flow/main_form.h"
#include "core/game.h"

namespace runner {
namespace {

class ScriptInput : public InputSink {
  public:
    explicit ScriptInput(adapters::VirtualInput& input) : input_(input) {}
    void SetKey(int code, bool down) override { input_.SetKey(code, down); }
    void SetJoyState(int state, bool on) override { input_.SetJoyState(state, on); }
    bool KeyHeld(int code) const override { return input_.LiveKey(code); }

  private:
    adapters::VirtualInput& input_;
};

}  // namespace

int RunHeadless(const CommandLine& options) {
    Script script;
    if (!options.script.empty()) {
        try {
            script = LoadScript(options.script);
        } catch (const ScriptError& error) {
            std::cerr << "kordavel: " << options.script << ": " << error.what() << "\n";
            return kExitUsage;
        }
    }
    ScriptPlayer player(script);
    const long ticks = options.ticks ? *options.ticks : player.LastTick();

    adapters::DiskFiles files(options.root);
    adapters::VirtualPlatform platform;
    adapters::VirtualInput& input = platform.input;
    adapters::ManualClock& clock = platform.clock;
    adapters::VirtualWindow& window = platform.window;
    window.onMessage = [](const std::string& text) { std::cerr << "kordavel: " << text << "\n"; };
    ScriptInput sink(input);
    const kdv::Services services = platform.ServicesWith(files);
    auto game = kdv::MakeGame(services);

    kdv::FormCreate(*game);
    if (!kdv::FormActivate(*game)) {
        kdv::FormClose(*game);
        return kExitStartup;
    }

    int exitCode = kExitOk;
    long ran = 0, demoTicks = 0, demos = 0;
    const auto started = std::chrono::steady_clock::now();
    for (long tick = 1; tick <= ticks && !window.closeRequested; ++tick) {
        player.ApplyInputs(tick, *game, sink);
        if (window.closeRequested) break;  // the Exit item
        const bool wasDemo = game->GameState == kdv::gsDemo;
        kdv::DXTimerTimer(*game);
        ++ran;
        if (game->GameState == kdv::gsDemo) {
            ++demoTicks;
            demos += !wasDemo;
        }
        clock.now += kdv::kTimerInterval;
        if (window.failed) {
            std::cerr << "kordavel: " << window.failure << "\n";
            exitCode = kExitGameError;
            break;
        }
        try {
            player.ApplyOutputs(tick, *game, ran);
        } catch (const std::exception& error) {
            std::cerr << "kordavel: " << error.what() << "\n";
            exitCode = kExitStartup;
            break;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    kdv::FormClose(*game);
    if (options.stats) {
        const auto& sounds = game->soundsPlayed;
        const kdv::PlayCounters& c = game->counters;
        std::printf(
            "ticks=%ld demo_ticks=%ld demos=%ld enemies_destroyed=%u players_destroyed=%u "
            "shots=%u shots_stopped=%u shots_stopped_within_8=%u base_shot=%u\n",
            ran, demoTicks, demos, sounds[kdv::sfxEnemyDestroyed], sounds[kdv::sfxPlayerDestroyed],
            sounds[kdv::sfxShot], c.playerShotsStopped, c.playerShotsShort, c.baseShot);
    }
    if (options.bench) {
        std::printf("ticks=%ld seconds=%.6f ticks_per_second=%.0f\n", ran, seconds,
                    seconds > 0 ? double(ran) / seconds : 0.0);
    }
    return exitCode;
}

}  // namespace runner
