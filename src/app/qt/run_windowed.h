#pragma once
#include <filesystem>

#include "adapters/disk_files.h"
#include "app/runner/command_line.h"

// Runs the game in its main window until it closes; returns the exit code.
int RunWindowed(const runner::CommandLine& options, int argc, char** argv);

// The folder of saved replays: "replays" beside the settings file.
std::filesystem::path ReplayFolder(const adapters::DiskFiles& files);
