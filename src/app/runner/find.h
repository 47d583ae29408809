#pragma once
// --find: the games hosted on the local network, as heard within a second.
#include "app/paths.h"
#include "app/runner/command_line.h"

namespace runner {

// Prints one line a game, beginning with the ADDRESS:PORT to join; 0 also when none answered.
int RunFind(const CommandLine& options, const app::GamePaths& paths);

}  // namespace runner
