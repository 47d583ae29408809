// Kordavel: the window, or with --headless the runner that plays scripted games without one.
#include <cstdio>
#include <iostream>

#include "app/paths.h"
#include "app/qt/run_windowed.h"
#include "app/runner/command_line.h"
#include "app/runner/find.h"
#include "app/runner/headless.h"
#include "app/runner/stage_curve.h"
#include "replay/format.h"
#include "replay/playback.h"
#include "router/port_opener.h"

int main(int argc, char** argv) {
    std::string error;
    auto options = runner::ParseCommandLine(argc, argv, error);
    if (!options) {
        std::cerr << "kordavel: " << error << "\n" << runner::UsageText();
        return runner::kExitUsage;
    }
    if (options->help) {
        std::cout << runner::UsageText();
        return runner::kExitOk;
    }
    if (options->version) {
        std::cout << "Kordavel " KORDAVEL_VERSION " (build " << replay::BuildIdentity() << ")\n";
        return runner::kExitOk;
    }
    auto paths = app::FindPaths(options->root,
                                app::PathEnvironment::Current(argc > 0 ? argv[0] : nullptr), error);
    if (!paths) {
        std::cerr << "kordavel: " << error << "\n";
        return runner::kExitStartup;
    }
    if (options->paths) {
        std::cout << app::DescribePaths(*paths);
        return runner::kExitOk;
    }
    if (options->find) return runner::RunFind(*options, *paths);
    if (options->stageCurve) {
        // A measuring tool: the stock stages with the settings found beside them, nothing saved.
        runner::CommandLine curve = *options;
        if (curve.root.empty()) curve.root = paths->dataDir.parent_path();
        return runner::RunStageCurve(curve);
    }
    // The game still runs on the stock levels; only the editor's saving is lost, and it says so.
    if (!app::PreparePlayerFiles(*paths, error)) std::cerr << "kordavel: " << error << "\n";
    if (!options->record.empty()) replay::RemoveLeftover(options->record);
    const int code = options->headless ? runner::RunHeadless(*options, *paths)
                                       : RunWindowed(*options, *paths, argc, argv);
    // A router told to close a hosted game's port hears it before the program ends.
    router::FinishClosing();
    return code;
}
