#pragma once
// Where the game's files are read and written.
//
// Portable: the program's folder is writable and holds data/; everything stays beside the
// executable. Installed: the stock data is read from the install prefix, and the player's
// files live in the XDG folders: the settings in $XDG_CONFIG_HOME/kordavel/, the level file
// the editor appends to (a copy of the stock one) and the replays in $XDG_DATA_HOME/kordavel/.
// Root: --root DIR puts everything under DIR, laid out as in the portable case.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "adapters/disk_files.h"

namespace app {

enum class Layout { Portable, Installed, Root };

struct GamePaths {
    Layout layout = Layout::Portable;
    std::filesystem::path programFolder;
    std::filesystem::path dataDir;       // the stock data: tank.grp, tank.fnt, tank.snd, lswap.dat
    std::filesystem::path levelFile;     // the level file play reads and the editor appends to
    std::filesystem::path settingsFile;  // kordavel.ini
    std::filesystem::path replayDir;     // recorded games

    std::filesystem::path StockLevelFile() const { return dataDir / "lswap.dat"; }
    // Installed only: the player's level file is a copy of the stock one.
    bool OwnLevelFile() const { return levelFile != StockLevelFile(); }
    // Beside the player's level file: how many records at its start came from the stock file.
    std::filesystem::path StockCountFile() const { return levelFile.parent_path() / "lswap.stock"; }
};

// What the paths are found from.
struct PathEnvironment {
    std::filesystem::path programFolder;  // the running executable's folder
    std::string home;                     // $HOME, or the home of the user's account
    std::string configHome;               // $XDG_CONFIG_HOME, may be empty
    std::string dataHome;                 // $XDG_DATA_HOME, may be empty

    static PathEnvironment Current(const char* argv0);
};

// root is --root DIR, or empty. nullopt, with error set, when the player's files have no home.
std::optional<GamePaths> FindPaths(const std::filesystem::path& root, const PathEnvironment& env,
                                   std::string& error);

// How many records at the start of the level file are the stock ones the program ships (the
// demonstration and stages 1..N-1): the count the asset compiler writes beside its level file,
// else, when the player has a copy of their own, the stock file's records. nullopt when it
// cannot be known (a level file copied without its count).
std::optional<int> StockLevelRecords(const GamePaths& paths);

// The lines kordavel --paths prints: every file, whether it is read or written, and where.
std::string DescribePaths(const GamePaths& paths);

// The game's files laid out as paths says: the core's "data/..." names and "kordavel.ini" are
// placed where they really are.
std::unique_ptr<adapters::DiskFiles> GameFiles(const GamePaths& paths);

// Makes the folders for the settings and the replays and brings the player's level file up to
// date with the stock one: a copy when there is none yet; after a stock update, the new stock
// records followed by the player's own. False, with error set, when that cannot be done; the
// level file is then the stock one (read-only to the editor) and nothing of the player's is
// touched.
bool PreparePlayerFiles(GamePaths& paths, std::string& error);

// The player's level file after a stock update: the new stock records, then the records that
// followed the stockRecords records the old copy began with.
std::vector<uint8_t> MergeLevels(const std::vector<uint8_t>& stock,
                                 const std::vector<uint8_t>& player, size_t stockRecords);

}  // namespace app
