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
    long ran = 0;
    long outputsTaken = 0;  // the last tick whose dump and screen commands were carried out
    const auto started = std::chrono::steady_clock::now();
    for (long tick = 1; tick <= ticks && !window.closeRequested; ++tick) {
        player.ApplyInputs(tick, *game, sink);
        if (window.closeRequested) break;  // the Exit item
        kdv::DXTimerTimer(*game);
        ++ran;
        clock.now += kdv::kTimerInterval;
        if (window.failed) {
            std::cerr << "kordavel: " << window.failure << "\n";
            exitCode = kExitGameError;
            break;
        }
        try {
            player.ApplyOutputs(tick, *game, ran);
            outputsTaken = tick;
        } catch (const std::exception& error) {
            std::cerr << "kordavel: " << error.what() << "\n";
            exitCode = kExitStartup;
            break;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    kdv::FormClose(*game);
    if (exitCode == kExitOk) {
        // Outputs the script asked for but the run never reached are reported, not dropped.
        for (const std::string& line : player.OutputsAfter(outputsTaken)) {
            std::cerr << "kordavel: " << options.script << ": " << line << "\n";
            exitCode = kExitStartup;
        }
    }
    if (options.bench) {
        std::printf("ticks=%ld seconds=%.6f ticks_per_second=%.0f\n", ran, seconds,
                    seconds > 0 ? double(ran) / seconds : 0.0);
    }
    return exitCode;
}

}  // namespace runner
