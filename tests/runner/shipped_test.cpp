// The shipped data played end to end: the build's own graphics, font, sounds and levels run
// through the headless runner's loop (in this process, to reach into the game) and through the
// program itself with scripts.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
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

using testkit::ReadAll;

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
    // The menu item, then Start now and then until the stage is being played.
    void StartGame(const char* menuItem) {
        script << "1 menu " << menuItem << "\n";
        for (long t = 10; t <= 60; t += 10)
            Key(t, Settings().keys1[Start], true), Key(t + 1, Settings().keys1[Start], false);
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
    run.StartGame("MStart1Player");
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

namespace {

// A computer tank as the player meets it: its picture on the field (facing up, tracks A), its
// reserve icon, its speed, the hits it takes and whether the first hit brings a bonus.
struct TankLook {
    std::vector<uint8_t> picture, icon;
    int32_t stepPeriod = 0;
    int hits = 0;
    bool bonus = false;
    bool operator==(const TankLook&) const = default;
};

// The 16 x 16 block at the top-left corner of everything drawn on a cleared frame.
std::vector<uint8_t> Drawn(const Game& g) {
    int left = 320, top = 200;
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 320; ++x)
            if (g.FrameScreen.At(x, y)) left = std::min(left, x), top = std::min(top, y);
    std::vector<uint8_t> block;
    for (int y = top; y < top + 16; ++y)
        for (int x = left; x < left + 16; ++x) block.push_back(g.FrameScreen.At(x, y));
    return block;
}

TankLook LookOf(testkit::FieldRig& rig, uint8_t kind) {
    Game& g = rig.g();
    TankLook look;
    g.EnemyLineup.fill(kind);
    for (EnemyTank& tank : g.enemies) ResetEnemySlot(tank);
    StartReserve(g);
    EnemyTank& e = g.Enemy(1);
    e.entering = false;
    e.alive = true;
    e.facing = dirUp;
    e.trackPhase = true;
    FillScreen(g.FrameScreen, 0);
    DrawEnemy(g, e);
    look.picture = Drawn(g);
    g.EnemyReserve.remaining = 1;
    FillScreen(g.FrameScreen, 0);
    DrawReserveIcons(g);
    look.icon = Drawn(g);
    look.stepPeriod = e.stepPeriod;
    g.Bonus.active = false;
    Bullet& b = g.Player(1).bullet;
    while (e.alive && look.hits < 10) {  // player 1's bullet, stopped inside the tank
        b.done = false;
        b.state = kBulletStopped;
        b.hitKind = hitEnemy;
        b.x = uint16_t(e.x + 7);
        b.y = uint16_t(e.y + 7);
        b.nextStepTick = g.GameClock;
        PlayerBulletTick(g, 1);
        if (++look.hits == 1) look.bonus = g.Bonus.active;
    }
    return look;
}

}  // namespace

// A hand-made level file may hold any byte as a kind. Every kind from 8 to 255 comes out as one
// of the eight kinds, keeping the picture set that the kind modulo 4 names, and its icon,
// colour, speed, armour and bonus all agree with that kind's.
TEST(ShippedKinds, KindsPastSevenInALevelFileAgreeInEveryRespect) {
    std::vector<testkit::LevelRecord> records(1, testkit::DefaultLevel());
    for (int i = 0; i < 20; ++i) records[0].lineup[size_t(i)] = uint8_t(i % kEnemyKinds);
    for (int kind = kEnemyKinds, i = 0; kind <= 255; ++kind, ++i) {
        if (i % 20 == 0) records.push_back(testkit::DefaultLevel());
        records.back().lineup[size_t(i % 20)] = uint8_t(kind);
    }
    testkit::FieldRig rig(gmOnePlayer, kShippedData.string());
    Game& g = rig.g();
    rig.files.files["data/lswap.dat"] = testkit::EncodeLevels(records);
    LoadStage(g, 0);
    std::vector<TankLook> eight;
    for (int kind = 0; kind < kEnemyKinds; ++kind) {
        eight.push_back(LookOf(rig, g.EnemyLineup[size_t(kind + 1)]));
        LoadStage(g, 0);
    }
    int checked = 0;
    for (size_t r = 1; r < records.size(); ++r)
        for (int entry = 1; entry <= 20; ++entry) {
            LoadStage(g, uint16_t(r));
            const uint8_t fileKind = records[r].lineup[size_t(entry - 1)];
            const uint8_t kind = g.EnemyLineup[size_t(entry)];
            SCOPED_TRACE("kind " + std::to_string(fileKind) + " in the file");
            ASSERT_LT(kind, kEnemyKinds);
            EXPECT_EQ(kind % 4, fileKind % 4) << "the picture set changed";
            const TankLook look = LookOf(rig, kind);
            EXPECT_EQ(look.icon, look.picture) << "the icon is not the tank";
            const auto same = std::find_if(eight.begin(), eight.end(), [&](const TankLook& k) {
                return k.picture == look.picture;
            });
            ASSERT_NE(same, eight.end());
            EXPECT_EQ(look, *same);
            ++checked;
        }
    EXPECT_EQ(checked, 20 * int(records.size() - 1));
    // Each of the eight is a tank of its own.
    for (size_t a = 0; a < eight.size(); ++a)
        for (size_t b = a + 1; b < eight.size(); ++b) EXPECT_NE(eight[a].picture, eight[b].picture);
}

// Two players who stand at their start and keep firing up win a stage whose only ways are the
// top row and the two columns above them: every computer tank that enters crosses their lines of
// fire sooner or later. A stage of this file is played on the shipped pictures and sounds.
TEST(ShippedPlay, AStageIsWonByTwoPlayersHoldingTheirLanes) {
    ShippedRoot probe;  // where the players start, from the game itself
    int lanes[2] = {-1, -1};
    {
        Session s(probe.path);
        ASSERT_TRUE(s.PlayFrom("MStart2Player"));
        for (int p = 0; p < 2; ++p) lanes[p] = (s.g().Player(p + 1).x - CellX(0)) / 16;
    }
    testkit::LevelRecord lanesStage;  // kind-0 tanks; steel everywhere else, and no base
    for (int c = 0; c < kMapColumns; ++c)
        for (int r = 0; r < kMapRows; ++r) {
            const bool open = r == 0 || c == lanes[0] || c == lanes[1];
            lanesStage.map[size_t(c * kMapRows + r)] = open ? 0 : 3;
        }
    const std::string shipped = ReadAll(kShippedData / "lswap.dat");
    testkit::Bytes levels(shipped.begin(), shipped.begin() + kLevelRecordBytes);
    const testkit::Bytes stages = testkit::EncodeLevels({lanesStage, lanesStage});
    levels.insert(levels.end(), stages.begin(), stages.end());
    ShippedRoot root(&levels);
    ScriptRun run(root);
    const Settings defaults;
    run.StartGame("MStart2Player");
    run.Key(100, defaults.keys1[Fire], true);
    run.Key(100, defaults.keys2[Fire], true);
    for (long t = 500; t <= 30000; t += 500) run.Dump(t);
    ASSERT_EQ(run.Run(), 0);
    bool won = false, next = false;
    for (long t : run.dumps) {
        const std::string d = run.At(t);
        if (Field(d, "GameState") == gsTallyTwoPlayers) {
            won = true;
            EXPECT_EQ(Field(d, "StageWon"), 1) << t;
            EXPECT_EQ(Field(d, "StageNumber"), 1) << t;
        }
        next =
            next || (won && Field(d, "GameState") == gsStageIntro && Field(d, "StageNumber") == 2);
    }
    EXPECT_TRUE(won);
    EXPECT_TRUE(next);
}

// The program on a stage whose line-up holds kinds past 7 plays exactly as on the same stage
// with the kinds the game reads from them.
TEST(ShippedKinds, ALineUpOfLargeKindsPlaysAsTheKindsItIsReadAs) {
    const std::string shipped = ReadAll(kShippedData / "lswap.dat");
    testkit::LevelRecord large = testkit::DefaultLevel(), read = large;
    for (int i = 0; i < 20; ++i) {
        large.lineup[size_t(i)] = uint8_t(255 - 13 * i);
        read.lineup[size_t(i)] = uint8_t((255 - 13 * i) % kEnemyKinds);
    }
    std::string dumps[2];
    for (int k = 0; k < 2; ++k) {
        testkit::Bytes levels(shipped.begin(), shipped.begin() + kLevelRecordBytes);
        const testkit::Bytes stage = testkit::EncodeLevels({k == 0 ? large : read});
        levels.insert(levels.end(), stage.begin(), stage.end());
        ShippedRoot root(&levels);
        ScriptRun run(root);
        const Settings defaults;
        run.StartGame("MStart1Player");
        run.Key(100, defaults.keys1[Fire], true);
        run.Dump(1500);
        ASSERT_EQ(run.Run(), 0);
        dumps[k] = run.At(1500);
    }
    EXPECT_EQ(Field(dumps[0], "GameState"), gsPlay);
    EXPECT_LT(Field(dumps[0], "remaining"), 17) << "tanks of the line-up came in";
    EXPECT_EQ(dumps[0], dumps[1]);
}

// The editor on the shipped data: Esc appends the map as one record and goes to the title at
// once, without presenting another editor frame.
TEST(ShippedPlay, EditorEscSavesAndGoesStraightToTheTitle) {
    ShippedRoot root;
    const auto before = fs::file_size(root.path / "data" / "lswap.dat");
    ScriptRun run(root);
    run.script << "1 menu MLevelEditor\n";
    run.Key(20, 13, true);  // Enter puts the tile under the cursor
    run.Key(21, 13, false);
    run.Dump(39);
    run.Key(40, 27, true);
    run.Dump(40);
    ASSERT_EQ(run.Run(), 0);
    EXPECT_EQ(Field(run.At(39), "GameState"), gsLevelEditor);
    EXPECT_EQ(Field(run.At(40), "GameState"), gsTitleScroll);
    EXPECT_EQ(Field(run.At(40), "PresentToggle"), Field(run.At(39), "PresentToggle"));
    EXPECT_EQ(fs::file_size(root.path / "data" / "lswap.dat"), before + kLevelRecordBytes);
}
