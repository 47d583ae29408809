// Kordavel: the window, or with --headless the runner that plays scripted games without one.
#include <cstdio>
#include <iostream>

#include "app/qt/run_windowed.h"
#include "app/runner/command_line.h"
#include "app/runner/headless.h"
#include "app/runner/stage_curve.h"

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
        std::cout << "Kordavel 0.1.0\n";
        return runner::kExitOk;
    }
    if (options->stageCurve) return runner::RunStageCurve(*options);
    if (options->headless) return runner::RunHeadless(*options);
    return RunWindowed(*options, argc, argv);
}
