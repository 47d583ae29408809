#pragma once
#include "app/paths.h"
#include "app/runner/command_line.h"

// Runs the game in its main window until it closes; returns the exit code.
int RunWindowed(const runner::CommandLine& options, const app::GamePaths& paths, int argc,
                char** argv);
