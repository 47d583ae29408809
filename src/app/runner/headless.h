#pragma once
#include "app/paths.h"
#include "app/runner/command_line.h"

namespace runner {

// Plays the game without window, sound device or joystick; returns the exit code.
int RunHeadless(const CommandLine& options, const app::GamePaths& paths);

}  // namespace runner
