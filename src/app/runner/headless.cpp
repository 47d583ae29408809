#include "app/runner/headless.h"

#include <chrono>
#include <cstdio>
#include <iostream>

#include "adapters/virtual_devices.h"
#include "app/runner/net_play.h"
#include "app/runner/script.h"
#include "app/runner/state_json.h"
#include "app/runner/watch_play.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "recording/recorded_game.h"
#include "replay/playback.h"

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

std::optional<Script> ReadScript(const CommandLine& options) {
    if (options.script.empty()) return Script{};
    try {
        return LoadScript(options.script);
    } catch (const ScriptError& error) {
        std::cerr << "kordavel: " << options.script << ": " << error.what() << "\n";
        return std::nullopt;
    }
}

void PrintBench(long ran, std::chrono::steady_clock::time_point started) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("ticks=%ld seconds=%.6f ticks_per_second=%.0f\n", ran, seconds,
                seconds > 0 ? double(ran) / seconds : 0.0);
}

// Plays a replay headless: its own devices, the data files checked first.
int RunReplay(const CommandLine& options, const app::GamePaths& paths) {
    auto script = ReadScript(options);
    if (!script) return kExitUsage;
    ScriptPlayer player(*script);
    if (player.HasInputs()) {
        std::cerr << "kordavel: " << options.script
                  << ": a replay takes its input from the file; the script may hold only dump "
                     "and screen lines\n";
        return kExitUsage;
    }
    std::string error;
    auto data = replay::LoadReplay(options.replay, error);
    if (!data) {
        std::cerr << "kordavel: " << error << "\n";
        return kExitReplay;
    }
    const auto diskFiles = app::GameFiles(paths);
    adapters::DiskFiles& files = *diskFiles;
    if (auto refusal = replay::CheckReplay(*data, files)) {
        std::cerr << "kordavel: " << options.replay << ": " << *refusal << "\n";
        return kExitReplay;
    }
    adapters::VirtualPlatform platform;
    adapters::VirtualWindow& window = platform.window;
    window.onMessage = [](const std::string& text) { std::cerr << "kordavel: " << text << "\n"; };
    kdv::Services outer;
    outer.window = &window;
    replay::Playback playback(std::move(*data), files, outer);
    if (!playback.Start()) return kExitStartup;

    const long limit = options.ticks ? *options.ticks : long(playback.Data().header.ticks);
    int exitCode = kExitOk;
    const auto started = std::chrono::steady_clock::now();
    while (playback.TicksRun() < limit && !window.closeRequested && playback.Step()) {
        if (window.failed) {
            std::cerr << "kordavel: " << window.failure << "\n";
            exitCode = kExitGameError;
            break;
        }
        const long tick = long(playback.TicksRun());
        try {
            player.ApplyOutputs(tick, playback.Game(), tick);
        } catch (const std::exception& e) {
            std::cerr << "kordavel: " << e.what() << "\n";
            exitCode = kExitStartup;
            break;
        }
    }
    if (exitCode == kExitOk && playback.TicksRun() == long(playback.Data().header.ticks))
        playback.Finish();
    if (playback.PartedAt()) {
        std::cerr << "kordavel: " << options.replay << ": " << playback.PartedMessage() << "\n";
        if (exitCode == kExitOk) exitCode = kExitReplay;
    }
    if (options.verify) {
        // A player who came back into a network game, or a spectator who came in during one,
        // recorded from the state it was sent: the game's ticks count on from that state's tick.
        const auto& from = playback.Data().header.from;
        const long ran = long(playback.TicksRun()) + long(from ? from->tick : 0);
        std::printf("ticks=%ld hash=%016llx\n", ran,
                    static_cast<unsigned long long>(StateHash(playback.Game(), ran)));
    }
    if (options.bench) PrintBench(long(playback.TicksRun()), started);
    return exitCode;
}

}  // namespace

int RunHeadless(const CommandLine& options, const app::GamePaths& paths) {
    if (!options.replay.empty()) return RunReplay(options, paths);
    if (!options.host.empty() || !options.join.empty()) return RunNetHeadless(options, paths);
    if (!options.watch.empty()) return RunWatchHeadless(options, paths);
    auto script = ReadScript(options);
    if (!script) return kExitUsage;
    ScriptPlayer player(*script);
    if (player.UsesForms()) {
        std::cerr << "kordavel: " << options.script << ": forms needs the window (no --headless)\n";
        return kExitUsage;
    }
    const long ticks = options.ticks ? *options.ticks : player.LastTick();

    const auto files = app::GameFiles(paths);
    adapters::VirtualPlatform platform;
    adapters::VirtualInput& input = platform.input;
    adapters::ManualClock& clock = platform.clock;
    adapters::VirtualWindow& window = platform.window;
    window.onMessage = [](const std::string& text) { std::cerr << "kordavel: " << text << "\n"; };
    ScriptInput sink(input);
    kdv::Services services = platform.ServicesWith(*files);
    const bool recording = !options.record.empty();
    recording::RecordedGame recorded(recording ? recording::Keep::GamesAndRun
                                               : recording::Keep::Nothing);
    auto game = recorded.Make(services);

    kdv::FormCreate(*game);
    if (!kdv::FormActivate(*game)) {
        kdv::FormClose(*game);
        return kExitStartup;
    }
    recorded.Begin();

    int exitCode = kExitOk;
    long ran = 0, demoTicks = 0, demos = 0;
    long outputsTaken = 0;  // the last tick whose dump and screen commands were carried out
    const auto started = std::chrono::steady_clock::now();
    for (long tick = 1; tick <= ticks && !window.closeRequested; ++tick) {
        try {
            player.ApplyInputs(tick, recorded, sink);
        } catch (const ScriptError& error) {
            std::cerr << "kordavel: " << options.script << ": " << error.what() << "\n";
            exitCode = kExitUsage;
            break;
        }
        if (window.closeRequested) break;  // the Exit item
        const bool wasDemo = game->GameState == kdv::gsDemo;
        recorded.Tick();
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
            outputsTaken = tick;
        } catch (const std::exception& error) {
            std::cerr << "kordavel: " << error.what() << "\n";
            exitCode = kExitStartup;
            break;
        }
    }
    if (recording) {
        std::string error;
        if (!replay::SaveReplay(options.record, recorded.Whole(), error)) {
            std::cerr << "kordavel: " << error << "\n";
            if (exitCode == kExitOk) exitCode = kExitStartup;
        }
    }
    kdv::FormClose(*game);
    // The settings or a level that could not be saved: the message was printed, and the run
    // did not do what it was asked.
    if (exitCode == kExitOk && game->FailedSaves > 0) exitCode = kExitStartup;
    if (exitCode == kExitOk) {
        // Outputs the script asked for but the run never reached are reported, not dropped.
        for (const std::string& line : player.OutputsAfter(outputsTaken)) {
            std::cerr << "kordavel: " << options.script << ": " << line << "\n";
            exitCode = kExitStartup;
        }
    }
    if (options.stats) {
        const auto& sounds = game->soundsPlayed;
        const kdv::PlayCounters& c = game->counters;
        std::printf(
            "ticks=%ld demo_ticks=%ld demos=%ld enemies_destroyed=%u players_destroyed=%u "
            "shots=%u shots_stopped=%u shots_stopped_within_8=%u base_shot=%u\n",
            ran, demoTicks, demos, sounds[kdv::sfxEnemyDestroyed], sounds[kdv::sfxPlayerDestroyed],
            sounds[kdv::sfxShot], c.playerShotsStopped, c.playerShotsShort, c.baseShot);
    }
    if (options.bench) PrintBench(ran, started);
    return exitCode;
}

}  // namespace runner
