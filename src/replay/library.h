#pragma once
// The folder of replays beside the settings: every game is saved there as it ends, and the
// oldest are deleted so that the last kKeptGames remain. Only files named as the program names
// them ("game-....kdr") are ever deleted: a player keeps a replay by renaming it.
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "replay/format.h"

namespace replay {

constexpr int kKeptGames = 20;

// "game-20260314-215530-01-1p-s03.kdr": when the game ended (the number tells apart games
// that ended in the same second), its mode and starting stage.
std::string GameFileName(std::chrono::system_clock::time_point when, const Header& header);
bool IsGameFileName(const std::string& name);
// Saves the game's replay into the folder (made if missing), then deletes the oldest
// program-named files beyond keep, never the one just written. Returns the file's path, or
// empty with error set.
std::filesystem::path SaveGame(const std::filesystem::path& folder, const Replay& replay,
                               std::chrono::system_clock::time_point when, std::string& error,
                               int keep = kKeptGames);
// Deletes the oldest program-named files beyond keep, oldest by the start time their headers
// record (a file that cannot be read counts as oldest); keepPath is never deleted.
void PruneGames(const std::filesystem::path& folder, int keep = kKeptGames,
                const std::filesystem::path& keepPath = {});
// Deletes the temporaries ("*.kdr.part") that a killed program left, once they are older than
// a minute (a running program's save takes milliseconds).
void CleanPartFiles(const std::filesystem::path& folder);

// A replay file of the folder, as a list of them shows it.
struct KeptGame {
    std::filesystem::path path;
    Header header;  // the fields before the start state
};
// Every replay of this format in the folder, newest first.
std::vector<KeptGame> ListGames(const std::filesystem::path& folder);
// The header of a replay file, from its first bytes.
std::optional<Header> ReadHeader(const std::filesystem::path& path);

}  // namespace replay
