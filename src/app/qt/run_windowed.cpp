#include "app/qt/run_windowed.h"

#include <QApplication>
#include <chrono>
#include <iostream>

#include "adapters/disk_files.h"
#include "app/qt/draw_surface.h"
#include "app/qt/main_window.h"
#include "app/runner/script.h"
#include "app/sdl/mixer_sound.h"
#include "app/sdl/sdl_input.h"
#include "core/game.h"

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

int RunWindowed(const runner::CommandLine& options, int argc, char** argv) {
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

    int qtArgc = argc;
    QApplication application(qtArgc, argv);
    QApplication::setApplicationName("Kordavel");
    QApplication::setApplicationVersion(KORDAVEL_VERSION);
    // The window decides when the program ends (after its close handler has run).
    QApplication::setQuitOnLastWindowClosed(false);

    adapters::DiskFiles files(options.root);
    SteadyClock clock;
    app::SdlInput input;
    app::MixerSound sound;
    app::TForm1 form(input);

    kdv::Services services;
    services.display = &form.DXDraw();
    services.sound = &sound;
    services.input = &input;
    services.clock = &clock;
    services.files = &files;
    services.window = &form;
    auto game = kdv::MakeGame(services);

    const bool scripted = !options.script.empty();
    form.Attach(*game, scripted ? &player : nullptr, options.ticks);
    form.Start();
    QApplication::exec();
    int exitCode = form.ExitCode();
    if (exitCode == runner::kExitOk) {
        // Outputs the script asked for but the run never reached are reported, not dropped.
        for (const std::string& line : player.OutputsAfter(form.TicksRun())) {
            std::cerr << "kordavel: " << options.script << ": " << line << "\n";
            exitCode = runner::kExitStartup;
        }
    }
    return exitCode;
}
