// The shipped data played end to end: the build's own graphics, font, sounds and levels run
// through the headless runner's loop (in this process, to reach into the game) and through the
// program itself with scripts.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

#include "adapters/disk_files.h"
#include "adapters/virtual_devices.h"
#include "core/controls/settings.h"
#include "core/field/enemy.h"
#include "core/field/impact.h"
#include "core/field/map.h"
#include "core/field/reserve.h"
#include "core/flow/game_state.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "core/screen/screen.h"
#include "testkit/testkit.h"

namespace fs = std::filesystem;
using namespace kdv;

namespace {

const fs::path kShippedData = fs::path(KORDAVEL_ROOT) / "data";

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A copy of the shipped data in a folder of its own (the program writes its settings there),
// with the level file replaced when the test brings its own.
struct ShippedRoot {
    explicit ShippedRoot(const testkit::Bytes* levels = nullptr) {
        path = fs::temp_directory_path() /
               ("kordavel-shipped-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        fs::remove_all(path);
        fs::create_directories(path);
        fs::copy(kShippedData, path / "data", fs::copy_options::recursive);
        if (levels) {
            std::ofstream out(path / "data" / "lswap.dat", std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(levels->data()),
                      std::streamsize(levels->size()));
        }
    }
    ~ShippedRoot() { fs::remove_all(path); }
    fs::path path;
    static inline int counter = 0;
};

// The headless runner's loop: the program's files on disk, virtual devices, one game step per
// tick of 13 ms, keys reaching the main window's key handler as they go down.
struct Session {
    adapters::DiskFiles files;
    adapters::VirtualPlatform platform;
    std::unique_ptr<Game> game;

    explicit Session(const fs::path& root) : files(root) {
        game = MakeGame(platform.ServicesWith(files));
        FormCreate(*game);
        started = FormActivate(*game);
    }
    ~Session() { FormClose(*game); }
    Game& g() { return *game; }
    void Key(int code, bool down) {
        platform.input.SetKey(code, down);
        if (down) FormKeyDown(*game, code, false);
    }
    void Tick(int n = 1) {
        for (int i = 0; i < n; ++i) {
            DXTimerTimer(*game);
            platform.clock.now += kTimerInterval;
        }
    }
    // Presses Start until the stage is being played.
    bool PlayFrom(const char* menuItem) {
        ClickMenu(*game, menuItem);
        for (int i = 0; i < 100 && g().GameState != gsPlay; ++i) {
            Key(g().Settings.keys1[Start], true);
            Tick();
            Key(g().Settings.keys1[Start], false);
            Tick(9);
        }
        return g().GameState == gsPlay;
    }
    bool started = false;
};

int RunProgram(const std::string& args) {
    const std::string cmd = std::string(KORDAVEL_BINARY) + " " + args + " >/dev/null 2>&1";
    return WEXITSTATUS(std::system(cmd.c_str()));
}

// Runs a script on the program and returns the dumps it asked for, by tick.
struct ScriptRun {
    explicit ScriptRun(ShippedRoot& r) : root(r) {}
    ShippedRoot& root;
    std::ostringstream script;
    std::vector<long> dumps;

    void Dump(long tick) {
        dumps.push_back(tick);
        script << tick << " dump " << (root.path / ("d" + std::to_string(tick))).string() << "\n";
    }
    void Key(long tick, int code, bool down) {
        script << tick << " key " << code << (down ? " down\n" : " up\n");
    }
    int Run() {
        std::ofstream(root.path / "script.txt") << script.str();
        return RunProgram("--headless --root " + root.path.string() + " --script " +
                          (root.path / "script.txt").string());
    }
    std::string At(long tick) const { return ReadAll(root.path / ("d" + std::to_string(tick))); }
};

// The number or truth value (1 or 0) after "key": in a dump; -1 when it is missing.
long Field(const std::string& dump, const std::string& key) {
    const size_t at = dump.find("\"" + key + "\": ");
    if (at == std::string::npos) return -1;
    const char* value = dump.c_str() + at + key.size() + 4;
    if (!std::strncmp(value, "true", 4)) return 1;
    if (!std::strncmp(value, "false", 5)) return 0;
    return std::strtol(value, nullptr, 10);
}

}  // namespace

// Both players, at every level, turn to each direction and fire: the first step of every shot
// gets away from the tank. Stage 1 is the game's default layout (the level file holds the
// demonstration only) and no computer tank comes in.
TEST(ShippedPlay, EveryDirectionFiresAtEveryLevelForBothPlayers) {
    const std::string demoOnly = ReadAll(kShippedData / "lswap.dat").substr(0, kLevelRecordBytes);
    const testkit::Bytes levels(demoOnly.begin(), demoOnly.end());
    ShippedRoot root(&levels);
    for (uint8_t level = 0; level < 4; ++level) {
        Session s(root.path);
        ASSERT_TRUE(s.started);
        ASSERT_TRUE(s.PlayFrom("MStart2Player"));
        Game& g = s.g();
        for (EnemyTank& tank : g.enemies) ResetEnemySlot(tank);
        g.EnemyReserve.nextArrivalTick = INT32_MAX / 2;
        const BindingRow* keys[] = {&g.Settings.keys1, &g.Settings.keys2};
        for (int p = 1; p <= 2; ++p) g.Player(p).level = level;
        // Away from the base: three strides up.
        for (int p = 0; p < 2; ++p) s.Key((*keys[p])[MoveUp], true);
        s.Tick(3 * 18);
        for (int p = 0; p < 2; ++p) s.Key((*keys[p])[MoveUp], false);
        for (uint8_t d = dirUp; d <= dirRight; ++d) {
            for (int p = 0; p < 2; ++p) s.Key((*keys[p])[MoveUp + d - 1], true);
            s.Tick();
            for (int p = 0; p < 2; ++p) s.Key((*keys[p])[MoveUp + d - 1], false);
            for (int i = 0; i < 1000 && !(g.Player(1).bullet.done && g.Player(2).bullet.done); ++i)
                s.Tick();
            s.Tick(20);  // the stride ends
            for (int p = 0; p < 2; ++p) s.Key((*keys[p])[Fire], true);
            s.Tick();
            for (int p = 0; p < 2; ++p) s.Key((*keys[p])[Fire], false);
            Bullet launched[2] = {g.Player(1).bullet, g.Player(2).bullet};
            s.Tick();
            for (int p = 0; p < 2; ++p) {
                const Bullet& b = g.Player(p + 1).bullet;
                SCOPED_TRACE("player " + std::to_string(p + 1) + " level " + std::to_string(level) +
                             " direction " + std::to_string(d));
                ASSERT_EQ(launched[p].state, d);
                EXPECT_EQ(b.state, d) << "the shot stopped on its first step";
                EXPECT_EQ(std::abs(b.x - launched[p].x) + std::abs(b.y - launched[p].y),
                          launched[p].speed);
            }
        }
    }
}

// A player who keeps firing at the wall beside the base breaks through and destroys it: the
// stage is lost, the tally follows, and the same stage is shown again.
TEST(ShippedPlay, AStageIsLostByShootingTheOwnBase) {
    ShippedRoot root;
    ScriptRun run(root);
    const Settings defaults;
    run.script << "1 menu MStart1Player\n";
    for (long t = 10; t <= 60; t += 10)
        run.Key(t, defaults.keys1[Start], true), run.Key(t + 1, defaults.keys1[Start], false);
    run.Dump(100);
    run.Key(101, defaults.keys1[MoveRight], true);  // player 1 starts left of the base
    run.Key(102, defaults.keys1[MoveRight], false);
    run.Key(130, defaults.keys1[Fire], true);
    for (long t = 500; t <= 12000; t += 500) run.Dump(t);
    ASSERT_EQ(run.Run(), 0);
    ASSERT_EQ(Field(run.At(100), "GameState"), gsPlay);
    const long stage = Field(run.At(100), "StageNumber");
    bool lost = false, again = false;
    for (long t : run.dumps) {
        const std::string d = run.At(t);
        if (Field(d, "GameState") == gsTallyOnePlayer) {
            lost = true;
            EXPECT_EQ(Field(d, "StageWon"), 0) << t;
        }
        if (lost && Field(d, "GameState") == gsStageIntro) again = Field(d, "StageNumber") == stage;
    }
    EXPECT_TRUE(lost);
    EXPECT_TRUE(again);
}
