#include "app/paths.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <pwd.h>
#include <unistd.h>

#include "core/controls/settings.h"
#include "core/field/map.h"
#include "core/screen/graphics_pack.h"
#include "core/sound/sound.h"

namespace app {
namespace fs = std::filesystem;

namespace {

constexpr const char* kFolderName = "kordavel";

bool IsDirectory(const fs::path& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

// $XDG_..._HOME when it is set to an absolute path (relative ones are to be ignored), else the
// usual folder under the home.
fs::path XdgBase(const std::string& value, const std::string& home, const char* fallback) {
    if (!value.empty() && fs::path(value).is_absolute()) return value;
    if (!home.empty() && fs::path(home).is_absolute()) return fs::path(home) / fallback;
    return {};
}

// A copy that carries its own data/ reads it even from a read-only folder; an installed
// program finds the prefix's data relative to itself, so that an installation can be moved.
fs::path InstalledDataDir(const fs::path& programFolder) {
    if (IsDirectory(programFolder / "data")) return programFolder / "data";
    fs::path relative = programFolder;
#ifdef KORDAVEL_DATA_FROM_PROGRAM
    relative = (programFolder / KORDAVEL_DATA_FROM_PROGRAM).lexically_normal();
    if (IsDirectory(relative)) return relative;
#endif
#ifdef KORDAVEL_INSTALLED_DATA
    if (IsDirectory(KORDAVEL_INSTALLED_DATA)) return KORDAVEL_INSTALLED_DATA;
#endif
    return relative;
}

// The first limit bytes of a file (all of a shorter one).
std::optional<std::vector<uint8_t>> ReadStart(const fs::path& path, uint64_t limit) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return std::nullopt;
    const uint64_t size = fs::file_size(path, ec);
    if (ec) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<uint8_t> bytes(size_t(std::min(size, limit)));
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    bytes.resize(size_t(in.gcount()));
    if (in.bad()) return std::nullopt;
    return bytes;
}

std::optional<std::vector<uint8_t>> ReadWhole(const fs::path& path) {
    return ReadStart(path, UINT64_MAX);
}

uint64_t FileSize(const fs::path& path) {
    std::error_code ec;
    const uint64_t size = fs::file_size(path, ec);
    return ec ? 0 : size;
}

// What a killed save left beside a file goes at start, under the lock its saves take.
void RemoveStaleSaves(const fs::path& file) {
    if (auto lock = adapters::LockFolderOf(file)) adapters::RemoveStaleTemporaries(file);
}

fs::path FileName(const char* gamePath) {
    return fs::path(gamePath).filename();
}

}  // namespace

PathEnvironment PathEnvironment::Current(const char* argv0) {
    PathEnvironment env;
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) exe = fs::absolute(argv0 ? argv0 : "kordavel", ec);
    env.programFolder = exe.parent_path();
    auto get = [](const char* name) {
        const char* v = std::getenv(name);
        return std::string(v ? v : "");
    };
    env.home = get("HOME");
    if (env.home.empty()) {
        if (const passwd* account = getpwuid(getuid()); account && account->pw_dir)
            env.home = account->pw_dir;
    }
    env.configHome = get("XDG_CONFIG_HOME");
    env.dataHome = get("XDG_DATA_HOME");
    return env;
}

std::optional<GamePaths> FindPaths(const fs::path& root, const PathEnvironment& env,
                                   std::string& error) {
    GamePaths p;
    p.programFolder = env.programFolder;
    auto besideEverything = [&](Layout layout, const fs::path& folder) {
        p.layout = layout;
        p.dataDir = folder / "data";
        p.levelFile = p.StockLevelFile();
        p.settingsFile = folder / kdv::kSettingsFile;
        p.replayDir = folder / "replays";
        return p;
    };
    if (!root.empty()) return besideEverything(Layout::Root, root);
    if (IsDirectory(env.programFolder / "data") && access(env.programFolder.c_str(), W_OK) == 0)
        return besideEverything(Layout::Portable, env.programFolder);

    const fs::path config = XdgBase(env.configHome, env.home, ".config");
    const fs::path data = XdgBase(env.dataHome, env.home, ".local/share");
    if (config.empty() || data.empty()) {
        error =
            "no home folder for the settings and levels (HOME is not set); "
            "set HOME or run with --root DIR";
        return std::nullopt;
    }
    p.layout = Layout::Installed;
    p.dataDir = InstalledDataDir(env.programFolder);
    p.settingsFile = config / kFolderName / kdv::kSettingsFile;
    p.levelFile = data / kFolderName / FileName(kdv::kLevelFile);
    p.replayDir = data / kFolderName / "replays";
    return p;
}

std::optional<int> StockLevelRecords(const GamePaths& paths) {
    if (auto text = ReadStart(paths.dataDir / "lswap.stock", 64)) {
        std::istringstream in(std::string(text->begin(), text->end()));
        int count = 0;
        if (in >> count && count >= 0) return count;
    }
    if (!paths.OwnLevelFile()) return std::nullopt;
    return int(std::min<uint64_t>(FileSize(paths.StockLevelFile()) / kdv::kLevelRecordBytes,
                                  uint64_t(kdv::kMaxLevelRecords)));
}

std::string DescribePaths(const GamePaths& paths) {
    std::ostringstream out;
    switch (paths.layout) {
        case Layout::Portable:
            out << "portable: every file beside the program\n";
            break;
        case Layout::Installed:
            out << "installed: stock data from the install prefix, the player's files in the "
                   "home folder\n";
            break;
        case Layout::Root:
            out << "--root: every file under " << paths.settingsFile.parent_path().string() << "\n";
            break;
    }
    auto line = [&](const char* what, const char* how, const fs::path& where) {
        std::string w = what, h = how;
        w.resize(std::max<size_t>(w.size() + 1, 14), ' ');
        h.resize(std::max<size_t>(h.size() + 1, 24), ' ');
        out << w << h << where.string() << "\n";
    };
    line("program", "runs from", paths.programFolder);
    line("graphics", "read", paths.dataDir / FileName(kdv::kGraphicsFile));
    line("font", "read", paths.dataDir / FileName(kdv::kFontFile));
    line("sounds", "read", paths.dataDir / FileName(kdv::kSoundBankFile));
    if (paths.OwnLevelFile()) {
        line("stock levels", "read, copied to levels", paths.StockLevelFile());
        line("levels", "read, editor appends", paths.levelFile);
        line("stock count", "written with levels", paths.StockCountFile());
    } else {
        line("levels", "read, editor appends", paths.levelFile);
    }
    line("settings", "read, written at exit", paths.settingsFile);
    line("replays", "written", paths.replayDir);
    return out.str();
}

std::unique_ptr<adapters::DiskFiles> GameFiles(const GamePaths& paths) {
    auto files = std::make_unique<adapters::DiskFiles>(paths.dataDir.parent_path());
    for (const char* name : {kdv::kGraphicsFile, kdv::kFontFile, kdv::kSoundBankFile})
        files->Place(name, paths.dataDir / FileName(name));
    files->Place(kdv::kLevelFile, paths.levelFile);
    files->Place(kdv::kSettingsFile, paths.settingsFile);
    return files;
}

std::vector<uint8_t> MergeLevels(const std::vector<uint8_t>& stock,
                                 const std::vector<uint8_t>& player, size_t stockRecords) {
    std::vector<uint8_t> merged = stock;
    const size_t own = stockRecords * kdv::kLevelRecordBytes;
    if (player.size() > own)
        merged.insert(merged.end(), player.begin() + ptrdiff_t(own), player.end());
    return merged;
}

bool PreparePlayerFiles(GamePaths& paths, std::string& error) {
    if (paths.layout != Layout::Installed) {
        RemoveStaleSaves(paths.settingsFile);
        RemoveStaleSaves(paths.levelFile);
        return true;
    }
    std::error_code ec;
    for (const fs::path& folder :
         {paths.settingsFile.parent_path(), paths.levelFile.parent_path(), paths.replayDir}) {
        fs::create_directories(folder, ec);
        if (ec) {
            error = "cannot make the folder " + folder.string() + ": " + ec.message();
            if (!fs::exists(paths.levelFile, ec)) paths.levelFile = paths.StockLevelFile();
            return false;
        }
    }

    RemoveStaleSaves(paths.settingsFile);
    // A game in the editor of another copy waits until the file is up to date.
    const auto lock = adapters::LockFolderOf(paths.levelFile);
    adapters::RemoveStaleTemporaries(paths.levelFile);
    adapters::RemoveStaleTemporaries(paths.StockCountFile());

    // Without stock levels there is nothing to copy; start-up reports a missing level file.
    const auto stock = ReadWhole(paths.StockLevelFile());
    if (!stock) return true;
    const size_t stockRecords = stock->size() / kdv::kLevelRecordBytes;
    // No more than can be played is read: a stage number addresses at most the first
    // kMaxLevelRecords records.
    const uint64_t playable =
        std::max<uint64_t>(stock->size(), uint64_t(kdv::kMaxLevelRecords) * kdv::kLevelRecordBytes);
    const auto player = ReadStart(paths.levelFile, playable);
    const bool exists = fs::exists(paths.levelFile, ec);
    if (exists && !player) {
        error = "cannot read " + paths.levelFile.string();
        return false;
    }

    // How many stock records the player's copy began with; the records after them are the
    // player's own. A missing count is taken as today's, as the asset compiler does.
    size_t copied = stockRecords;
    if (auto text = ReadStart(paths.StockCountFile(), 64)) {
        std::istringstream in(std::string(text->begin(), text->end()));
        size_t n = 0;
        if (in >> n && n <= (player ? player->size() : 0) / kdv::kLevelRecordBytes) copied = n;
    }
    // A file that begins with today's stock records is up to date, unless the stock has
    // shrunk since it was copied (then the dropped stock records must not pass for the
    // player's own).
    const bool current = player && player->size() >= stock->size() &&
                         std::equal(stock->begin(), stock->end(), player->begin()) &&
                         copied <= stockRecords;

    adapters::DiskFiles folder(paths.levelFile.parent_path());
    const std::string levelName = paths.levelFile.filename().string();
    if (!current && FileSize(paths.levelFile) > playable) {
        // Bringing it up to date would mean reading all of it, or losing the part not read.
        error = paths.levelFile.string() +
                " holds more levels than can be played; it was left as it is, without the "
                "stock levels of this version";
        return false;
    }
    if (!current) {
        const std::vector<uint8_t> merged = player ? MergeLevels(*stock, *player, copied) : *stock;
        // The file may not exist yet, and Replace only makes or replaces whole files.
        if (!folder.Replace(levelName, merged)) {
            error = "cannot write " + paths.levelFile.string();
            if (!exists) paths.levelFile = paths.StockLevelFile();
            return false;
        }
    }
    // Written after the levels: if that write is lost, the file already begins with the stock
    // records and the count is put right on the next start.
    if (!current || copied != stockRecords) {
        const std::string count = std::to_string(stockRecords) + "\n";
        if (!folder.Replace(paths.StockCountFile().filename().string(),
                            std::vector<uint8_t>(count.begin(), count.end()))) {
            error = "cannot write " + paths.StockCountFile().string();
            return false;
        }
    }
    return true;
}

}  // namespace app
