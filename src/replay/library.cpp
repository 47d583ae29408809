#include "replay/library.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "replay/playback.h"

namespace replay {

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

void PruneGames(const std::filesystem::path& folder, int keep) {
    std::error_code ec;
    std::vector<std::filesystem::path> games;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        if (entry.is_regular_file(ec) && IsGameFileName(entry.path().filename().string()))
            games.push_back(entry.path());
    if (int(games.size()) <= keep) return;
    // The names begin with the time, so the oldest sort first.
    std::sort(games.begin(), games.end());
    for (size_t i = 0; i + size_t(keep) < games.size(); ++i) std::filesystem::remove(games[i], ec);
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
    PruneGames(folder, keep);
    return path;
}

}  // namespace replay
