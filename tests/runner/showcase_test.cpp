// What a player sees without touching a key: the demonstration on the shipped map, and the
// stage curve that shows the first stages easier than the last. Both run the shipped data, in
// this process or through the program itself, and read the game's own counters.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/field/bullet.h"
#include "core/field/map.h"
#include "core/flow/game_state.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "testkit/testkit.h"

namespace fs = std::filesystem;
using namespace kdv;

namespace {

const fs::path kShippedData = fs::path(KORDAVEL_ROOT) / "data";

// A copy of the shipped data in a folder of its own: the program writes its settings there.
struct ShippedCopy {
    ShippedCopy() {
        path = fs::temp_directory_path() / ("kordavel-showcase-" + std::to_string(::getpid()));
        fs::remove_all(path);
        fs::create_directories(path);
        fs::copy(kShippedData, path / "data", fs::copy_options::recursive);
    }
    ~ShippedCopy() { fs::remove_all(path); }
    fs::path path;
};

// The program's standard output for the given arguments on a copy of the shipped data.
std::string RunProgram(const std::string& args, int& exitCode) {
    ShippedCopy root;
    const std::string cmd = std::string(KORDAVEL_BINARY) + " --root " + root.path.string() + " " +
                            args + " 2>/dev/null";
    std::string out;
    FILE* pipe = ::popen(cmd.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    exitCode = WEXITSTATUS(::pclose(pipe));
    return out;
}

// "name=value" pairs of the runner's --stats line.
std::map<std::string, double> StatsOf(const std::string& line) {
    std::map<std::string, double> stats;
    std::istringstream words(line);
    for (std::string w; words >> w;)
        if (auto eq = w.find('='); eq != std::string::npos)
            stats[w.substr(0, eq)] = std::stod(w.substr(eq + 1));
    return stats;
}

// The shipped data read into memory; the demonstration starts from the menu.
struct DemoRig : testkit::Rig {
    DemoRig() {
        InstallDataFrom(kShippedData.string());
        started = StartUp();
        ClickMenu(g(), "MDemo");
    }
    bool started = false;
};

}  // namespace

// 100,000 ticks with nobody at the keys: the title starts the demonstration again and again.
// Measured on the shipped data when the map was redrawn: 74 computer tanks destroyed in 11
// demonstrations, 8 of them ended by a bullet in the base, 1,278 shots of which 47 % stopped
// within 8 pixels. The old map, with brick right above both start cells, gave 36 tanks, 24 of
// 25 demonstrations ended at the base and 61 % of 2,532 shots stopped at once. The floors sit
// at about three quarters of the new figures, well clear of the old ones.
TEST(Demonstration, ShowsABattleBeforeTheBaseFalls) {
    int exitCode = -1;
    const std::string out = RunProgram("--headless --ticks 100000 --stats", exitCode);
    ASSERT_EQ(exitCode, 0) << out;
    auto stats = StatsOf(out);
    ASSERT_EQ(stats["ticks"], 100000) << out;
    EXPECT_GT(stats["demo_ticks"], 80000) << out;
    EXPECT_GE(stats["enemies_destroyed"], 55) << out;
    EXPECT_GE(stats["shots"], 900) << out;
    EXPECT_GE(stats["enemies_destroyed"], 4 * stats["demos"] - 0.5) << "tanks a demonstration";
    EXPECT_LE(stats["base_shot"], stats["demos"] * 0.8) << out;
    ASSERT_GT(stats["shots_stopped"], 0) << out;
    EXPECT_LE(stats["shots_stopped_within_8"] / stats["shots_stopped"], 0.55) << out;
}

// Both tanks' first shots fly clear of their start, and the logo laid over the map breaks away
// under fire during the first demonstration.
TEST(Demonstration, OpensWithClearShotsAndBreaksTheLogo) {
    DemoRig rig;
    ASSERT_TRUE(rig.started);
    Game& g = rig.g();
    ASSERT_EQ(g.GameState, gsDemo);
    // The logo: brick pixels the title adds to the demonstration's map.
    testkit::Rig mapOnly;
    mapOnly.InstallDataFrom(kShippedData.string());
    ASSERT_TRUE(mapOnly.StartUp());
    LoadStage(mapOnly.g(), 0);
    BuildBackground(mapOnly.g());
    std::vector<std::pair<int, int>> logo;
    for (int y = 0; y < kScreenHeight; ++y)
        for (int x = 0; x < kScreenWidth; ++x) {
            const uint8_t c = g.BackScreen.At(x, y);
            if (IsBrick(c) && c != mapOnly.g().BackScreen.At(x, y)) logo.push_back({x, y});
        }
    ASSERT_GT(logo.size(), 1000u);

    int flight[2] = {-1, -1};
    for (int t = 0; t < 2000 && (flight[0] < 0 || flight[1] < 0); ++t) {
        rig.Tick();
        for (int p = 0; p < 2; ++p) {
            const Bullet& b = g.Player(p + 1).bullet;
            if (flight[p] < 0 && !b.done && b.state == kBulletStopped)
                flight[p] = std::abs(b.x - g.counters.shotFromX[size_t(p)]) +
                            std::abs(b.y - g.counters.shotFromY[size_t(p)]);
        }
    }
    for (int p = 0; p < 2; ++p) EXPECT_GT(flight[p], 2 * 16) << "player " << p + 1;

    while (g.GameState == gsDemo && !g.GameOverCaption.base.active) rig.Tick();
    size_t broken = 0;  // 1,964 of 5,104 when the map was drawn
    for (auto [x, y] : logo) broken += g.BackScreen.At(x, y) == 0;
    EXPECT_GT(broken, logo.size() / 10) << broken << " of " << logo.size();
}

// The stage curve of the program itself: stages 1 to 3 let an idle player's base stand for a
// minute at least, and stages 1-5 come out easier than 30-35 by every figure that measures
// the stage rather than the autopilot's time to lose its tanks.
TEST(StageCurve, FirstStagesAreEasierThanTheLast) {
    int exitCode = -1;
    const std::string out = RunProgram("--stage-curve --stages 1-5,30-35 --seeds 4", exitCode);
    ASSERT_EQ(exitCode, 0) << out;
    struct Line {
        double kills, lost, stood, idleMin, idleMean;
    };
    std::map<std::string, Line> lines;
    std::istringstream in(out);
    std::string header, label;
    std::getline(in, header);
    for (std::string text; std::getline(in, text);) {
        std::istringstream words(text);
        Line l{};
        std::string won, shot;
        if (words >> label >> l.kills >> l.lost >> l.stood >> won >> l.idleMin >> l.idleMean >>
            shot)
            lines[label] = l;
    }
    ASSERT_EQ(lines.size(), 13u) << out;
    for (const char* stage : {"1", "2", "3"}) EXPECT_GE(lines[stage].idleMin, 60.0) << out;
    const Line& first = lines["1-5"];
    const Line& last = lines["30-35"];
    EXPECT_GT(first.kills, last.kills) << out;
    EXPECT_GT(first.stood, last.stood) << out;
    EXPECT_GT(first.idleMin, last.idleMin) << out;
    EXPECT_GT(first.idleMean, last.idleMean) << out;
}
