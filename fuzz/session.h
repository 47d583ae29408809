#pragma once
// What every fuzz target shares: the shipped data files in memory, and a short session of the
// game played on them, so that a file is exercised where the game uses it and not only where
// it is parsed.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "adapters/memory_files.h"
#include "adapters/virtual_devices.h"
#include "core/game.h"

namespace fuzz {

// The files a run plays on, put back to the shipped data/ files (the sound bank cut short, see
// short_bank.h) and no settings file, as on a first start. One set is kept for the whole
// process and only what the last run changed is restored: copying the data files every run
// took a large part of it.
adapters::MemoryFiles& FreshFiles();

// The process's one game and its devices, put back to a new game's state and wired to the
// files. Making a game of a few hundred kilobytes every run took a large part of it.
struct Rig {
    adapters::VirtualPlatform& platform;
    kdv::Game& game;
};
Rig FreshGame(adapters::MemoryFiles& files);

// A session's scenes. One run plays one of them, picked by the last byte of its input, which
// is not part of the file: playing all four made every run about twice as long, and a byte of
// its own lets a mutation stay in the scene it was found in. The seeds end in "0" to "3".
enum class Scene : uint8_t { Title, Demo, Stage, Editor };

struct RunInput {
    std::vector<uint8_t> file;  // the input without its last byte
    Scene scene = Scene::Title;
    uint8_t rest = 0;  // the last byte's other six bits
};
RunInput SplitInput(const uint8_t* data, size_t size);

struct SessionOptions {
    int stage = 1;  // the stage the stage scene plays
    // The close, which plays the parting sound and merges the settings into kordavel.ini: the
    // settings and sound targets' business, and a tenth of a run for the others.
    bool close = false;
};

// Starts the game on the files and plays the scene: the title; the demonstration; a two-player
// stage with both players firing; or the level editor saving a level. Stops early when
// start-up fails, as the program would. Returns the game as the session left it.
kdv::Game& PlaySession(adapters::MemoryFiles& files, Scene scene,
                       const SessionOptions& options = {});

}  // namespace fuzz
