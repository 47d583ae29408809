#pragma once
// What every fuzz target shares: the shipped data files in memory, and a short session of the
// game played on them, so that a file is exercised where the game uses it and not only where
// it is parsed.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "adapters/memory_files.h"

namespace fuzz {

// The shipped data/ files and a settings file written by the game, as the game names them.
adapters::MemoryFiles ShippedFiles();

// Starts the game on the files and plays: the title, the demonstration, a two-player stage
// with both players firing, the level editor saving a level, and the close that saves the
// settings. Stops early when start-up fails, as the program would. stage picks the stage.
void PlaySession(adapters::MemoryFiles& files, int stage = 1);

std::vector<uint8_t> Bytes(const uint8_t* data, size_t size);

}  // namespace fuzz
