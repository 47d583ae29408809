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
// Where a joiner or spectator goes, and with which invite code (normalised; empty when none
// was given): from "HOST:PORT", "HOST:PORT CODE" or the line the host showed, and --code. A
// host's where is its own address. False with error set when either is bad.
bool ReachFrom(std::string where, std::string code, bool hosting, net::Address& address,
               std::string& codeOut, std::string& error);
// A headless network game; the figures and the final hash go to standard output.
int RunNetHeadless(const CommandLine& options, const app::GamePaths& paths);

}  // namespace runner
