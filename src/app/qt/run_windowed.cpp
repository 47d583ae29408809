#include "app/qt/run_windowed.h"

#include <iostream>

// The window is not built yet.
int RunWindowed(const runner::CommandLine&, int, char**) {
    std::cerr << "kordavel: the window is not built yet; use --headless\n";
    return runner::kExitStartup;
}
