#include "app/qt/run_windowed.h"

#include <QApplication>
#include <chrono>
#include <iostream>

#include "app/qt/draw_surface.h"
#include "app/qt/main_window.h"
#include "app/runner/script.h"
#include "app/sdl/mixer_sound.h"
#include "app/sdl/sdl_input.h"
#include "core/game.h"
#include "replay/recorder.h"

#ifndef KORDAVEL_VERSION
#define KORDAVEL_VERSION "0"
#endif

namespace {

// Milliseconds since the program started.
class SteadyClock : public kdv::Clock {
  public:
    uint32_t TickCount() override {
        return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start_)
                            .count());
    }

  private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace

int RunWindowed(const runner::CommandLine& options, const app::GamePaths& paths, int argc,
                char** argv) {
    runner::Script script;
    if (!options.script.empty()) {
        try {
            script = runner::LoadScript(options.script);
        } catch (const runner::ScriptError& error) {
            std::cerr << "kordavel: " << options.script << ": " << error.what() << "\n";
            return runner::kExitUsage;
        }
    }
    runner::ScriptPlayer player(std::move(script));
    if (!options.replay.empty() && player.HasInputs()) {
        std::cerr << "kordavel: " << options.script
                  << ": a replay takes its input from the file; the script may hold only dump "
                     "and screen lines\n";
        return runner::kExitUsage;
    }

    int qtArgc = argc;
    QApplication application(qtArgc, argv);
    QApplication::setApplicationName("Kordavel");
    QApplication::setApplicationVersion(KORDAVEL_VERSION);
    // Names the menu entry, so that desktops show its icon for the window.
    QGuiApplication::setDesktopFileName("org.kordavel.Kordavel");
    // The window decides when the program ends (after its close handler has run).
    QApplication::setQuitOnLastWindowClosed(false);

    const auto files = app::GameFiles(paths);
    SteadyClock clock;
    app::SdlInput input;
    app::MixerSound sound;
    sound.OpenInBackground();  // the first frame does not wait for the audio probe
    app::TForm1 form(input);

    kdv::Services services;
    replay::Recorder recorder;
    services.display = &form.DXDraw();
    services.sound = &sound;
    services.input = &input;
    services.clock = &clock;
    services.files = files.get();
    services.window = &form;
    auto game = kdv::MakeGame(recorder.Wrap(services));

    const bool scripted = !options.script.empty();
    form.AttachRecorder(recorder, paths.replayDir, options.record);
    if (!options.replay.empty()) {
        form.Attach(*game, nullptr, options.ticks);
        form.WatchAtStart(options.replay, scripted ? &player : nullptr);
    } else {
        player.SetRecorder(&recorder);
        form.Attach(*game, scripted ? &player : nullptr, options.ticks);
    }
    form.SetFrameStats(options.frameStats);
    if (!options.host.empty() || !options.join.empty()) form.NetworkAtStart(options);
    form.Start();
    QApplication::exec();
    int exitCode = form.ExitCode();
    if (exitCode == runner::kExitOk) {
        // Outputs the script asked for but the run never reached are reported, not dropped.
        const long reached = options.replay.empty() ? form.TicksRun() : form.WatchTicksRun();
        for (const std::string& line : player.OutputsAfter(reached)) {
            std::cerr << "kordavel: " << options.script << ": " << line << "\n";
            exitCode = runner::kExitStartup;
        }
    }
    return exitCode;
}
