#include "replay/library.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <vector>

#include "replay/playback.h"

namespace replay {
namespace {

// The header comes first and is small; the start state after it is not needed.
constexpr size_t kHeaderBytes = 16 << 10;

}  // namespace

std::string GameFileName(std::chrono::system_clock::time_point when, const Header& header) {
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&t, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    static const char* const kModes[] = {"demo", "1p", "2p", "duel"};
    const char* mode = header.mode < 4 ? kModes[header.mode] : "none";
    char stage[16];
    std::snprintf(stage, sizeof stage, "s%02d", int(std::clamp(header.stage, 0, 999)));
    return std::string("game-") + stamp + "-01-" + mode + "-" + stage + ".kdr";
}

bool IsGameFileName(const std::string& name) {
    return name.size() > 9 && name.compare(0, 5, "game-") == 0 &&
           name.compare(name.size() - 4, 4, ".kdr") == 0;
}

std::optional<Header> ReadHeader(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes(kHeaderBytes);
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    bytes.resize(size_t(std::max<std::streamsize>(in.gcount(), 0)));
    return DecodeHeader(bytes);
}

void PruneGames(const std::filesystem::path& folder, int keep,
                const std::filesystem::path& keepPath) {
    std::error_code ec;
    struct Game {
        std::filesystem::path path;
        int64_t started;
    };
    std::vector<Game> games;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        if (entry.is_regular_file(ec) && IsGameFileName(entry.path().filename().string())) {
            const auto header = ReadHeader(entry.path());
            games.push_back({entry.path(), header ? header->startTime : INT64_MIN});
        }
    if (int(games.size()) <= keep) return;
    // By the recorded start, not by name: a clock set back or a change of time zone makes
    // names that sort wrongly. Equal starts fall back on the name.
    std::sort(games.begin(), games.end(), [](const Game& a, const Game& b) {
        return a.started != b.started ? a.started < b.started : a.path < b.path;
    });
    size_t surplus = games.size() - size_t(keep);
    for (size_t i = 0; i < games.size() && surplus > 0; ++i) {
        if (!keepPath.empty() && std::filesystem::equivalent(games[i].path, keepPath, ec)) continue;
        std::filesystem::remove(games[i].path, ec);
        --surplus;
    }
}

void CleanPartFiles(const std::filesystem::path& folder) {
    std::error_code ec;
    const auto now = std::filesystem::file_time_type::clock::now();
    std::vector<std::filesystem::path> stale;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() < 9 || name.compare(name.size() - 9, 9, ".kdr.part") != 0) continue;
        const auto written = entry.last_write_time(ec);
        if (!ec && now - written > std::chrono::minutes(1)) stale.push_back(entry.path());
    }
    for (const auto& path : stale) std::filesystem::remove(path, ec);
}

std::filesystem::path SaveGame(const std::filesystem::path& folder, const Replay& replay,
                               std::chrono::system_clock::time_point when, std::string& error,
                               int keep) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    std::string name = GameFileName(when, replay.header);
    // Two games ended in the same second: the later one gets the next number.
    for (int n = 2; std::filesystem::exists(folder / name, ec) && n < 100; ++n)
        name.replace(21, 2, std::to_string(n / 10) + std::to_string(n % 10));
    const std::filesystem::path path = folder / name;
    if (!SaveReplay(path.string(), replay, error)) return {};
    PruneGames(folder, keep, path);
    return path;
}

std::vector<KeptGame> ListGames(const std::filesystem::path& folder) {
    std::error_code ec;
    std::vector<KeptGame> games;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        if (!entry.is_regular_file(ec) || entry.path().extension() != ".kdr") continue;
        if (auto header = ReadHeader(entry.path())) games.push_back({entry.path(), *header});
    }
    std::sort(games.begin(), games.end(), [](const KeptGame& a, const KeptGame& b) {
        return a.header.startTime != b.header.startTime ? a.header.startTime > b.header.startTime
                                                        : a.path > b.path;
    });
    return games;
}

}  // namespace replay
