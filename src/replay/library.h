#pragma once
// The folder of replays beside the settings: every game is saved there as it ends, and the
// oldest are deleted so that the last kKeptGames remain. Only files named as the program names
// them ("game-....kdr") are ever deleted: a player keeps a replay by renaming it.
#include <chrono>
#include <filesystem>
#include <string>

#include "replay/format.h"

namespace replay {

constexpr int kKeptGames = 20;

// "game-20260314-215530-01-1p-s03.kdr": when the game ended (the number tells apart games
// that ended in the same second), its mode and starting stage.
std::string GameFileName(std::chrono::system_clock::time_point when, const Header& header);
bool IsGameFileName(const std::string& name);
// Saves the game's replay into the folder (made if missing), then deletes the oldest
// program-named files beyond keep. Returns the file's path, or empty with error set.
std::filesystem::path SaveGame(const std::filesystem::path& folder, const Replay& replay,
                               std::chrono::system_clock::time_point when, std::string& error,
                               int keep = kKeptGames);
void PruneGames(const std::filesystem::path& folder, int keep = kKeptGames);

}  // namespace replay
