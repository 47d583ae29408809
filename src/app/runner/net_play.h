#pragma once
// Network games from the command line: the headless runner's, and the options the window
// builds its own from.
#include <string>

#include "app/paths.h"
#include "app/runner/command_line.h"
#include "net/session.h"

namespace kdv {
class FileSystem;
}

namespace runner {

// The session options for this command line, this machine's settings and data files; the
// devices and hooks are left for the caller. False with error set when the address is bad.
bool NetOptions(const CommandLine& options, kdv::FileSystem& disk, net::Options& out,
                std::string& error);
// A headless network game; the figures and the final hash go to standard output.
int RunNetHeadless(const CommandLine& options, const app::GamePaths& paths);

}  // namespace runner
