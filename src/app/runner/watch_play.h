#pragma once
// Watching a network game from the command line: the headless runner's, and the options the
// window builds its own from.
#include <string>

#include "app/paths.h"
#include "app/runner/command_line.h"
#include "net/watch.h"

namespace kdv {
class FileSystem;
}

namespace runner {

// The options for --watch (the address, and the code given with it or by --code) and this
// machine's data files; the devices are left for the caller. False with error set when the
// address or the code is bad.
bool WatchOptionsFor(const CommandLine& options, kdv::FileSystem& disk, net::WatchOptions& out,
                     std::string& error);
// Watches headless to the game's end; the figures and the final hash go to standard output.
int RunWatchHeadless(const CommandLine& options, const app::GamePaths& paths);

}  // namespace runner
