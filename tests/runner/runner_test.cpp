// The headless runner: scripts, dumps and the program's exit codes, run on the real binary.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/runner/script.h"
#include "app/runner/state_json.h"
#include "testkit/testkit.h"

namespace fs = std::filesystem;

namespace {

using testkit::ReadAll;

struct TempRoot {
    TempRoot() {
        path = fs::temp_directory_path() /
               ("kordavel-runner-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        fs::remove_all(path);
        fs::create_directories(path);
        testkit::WriteStandardData(path.string());
    }
    ~TempRoot() { fs::remove_all(path); }
    fs::path path;
    static inline int counter = 0;
};

// Runs the program; returns its exit code, with standard error in err.
int RunProgram(const std::string& args, std::string* err = nullptr) {
    const fs::path errFile =
        fs::temp_directory_path() / ("kordavel-err-" + std::to_string(::getpid()));
    const std::string cmd =
        std::string(KORDAVEL_BINARY) + " " + args + " 2>" + errFile.string() + " >/dev/null";
    const int status = std::system(cmd.c_str());
    if (err) *err = ReadAll(errFile);
    fs::remove(errFile);
    return WEXITSTATUS(status);
}

runner::Script Parse(const std::string& text) {
    std::istringstream in(text);
    return runner::ParseScript(in);
}

}  // namespace

TEST(Script, ParsesEveryVerbAndSkipsCommentsAndBlankLines) {
    auto s = Parse(
        "# a comment\n\n3 key 38 down\n3 joy 4 on\n5 menu MDemo\n9 dump a.json\n7 screen x\n");
    ASSERT_EQ(s.commands.size(), 5u);
    EXPECT_EQ(s.lastTick, 9);
    EXPECT_EQ(s.commands[0].verb, runner::Command::Key);
    EXPECT_EQ(s.commands[0].code, 38);
    EXPECT_TRUE(s.commands[0].on);
    EXPECT_EQ(s.commands[1].verb, runner::Command::Joy);
    EXPECT_EQ(s.commands[2].text, "MDemo");
    EXPECT_EQ(s.commands[4].line, 7);
}

TEST(Script, ReportsTheLineThatCannotBeParsed) {
    for (auto [text, line] :
         std::vector<std::pair<std::string, int>>{{"1 key 38 down\n0 key 38 down\n", 2},
                                                  {"1 key 38 pressed\n", 1},
                                                  {"\n\n1 joy 36 on\n", 3},
                                                  {"1 menu MOptionz\n", 1},
                                                  {"1 select 0 0\n", 1},
                                                  {"1 select 3 3\n", 1},
                                                  {"1 option Options/SoundVolume\n", 1},
                                                  {"1 option SoundVolume 5\n", 1},
                                                  {"1 option apply\n", 1},
                                                  {"1 fly away\n", 1},
                                                  {"x key 1 down\n", 1},
                                                  {"1 dump\n", 1}}) {
        try {
            Parse(text);
            ADD_FAILURE() << text;
        } catch (const runner::ScriptError& e) {
            EXPECT_EQ(e.line, line) << text;
        }
    }
}

TEST(Headless, SameScriptTwiceGivesIdenticalDumpsAndScreens) {
    TempRoot root;
    const fs::path script = root.path / "s.txt";
    std::ofstream(script) << "50 dump " << (root.path / "a.json").string() << "\n"
                          << "200 key 32 down\n201 key 32 up\n"
                          << "210 key 32 down\n211 key 32 up\n"
                          << "260 dump " << (root.path / "b.json").string() << "\n"
                          << "260 screen " << (root.path / "shot").string() << "\n";
    std::string err;
    ASSERT_EQ(RunProgram("--headless --root " + root.path.string() + " --script " + script.string(),
                         &err),
              0)
        << err;
    const std::string a = ReadAll(root.path / "a.json"), b = ReadAll(root.path / "b.json");
    const std::string frame = ReadAll(root.path / "shot.frame");
    EXPECT_NE(a.find("\"tick\": 50"), std::string::npos);
    EXPECT_NE(a.find("\"GameState\": 1"), std::string::npos);
    EXPECT_NE(b.find("\"GameState\": 0"), std::string::npos);  // the stage is being played
    EXPECT_NE(b.find("\"soundsPlayed\": [0, 0, 0, 0, 0, 0, 0, 1, 0, 0]"), std::string::npos);
    EXPECT_EQ(frame.size(), 64000u);
    EXPECT_EQ(ReadAll(root.path / "shot.back").size(), 64000u);
    EXPECT_EQ(ReadAll(root.path / "shot.png").substr(1, 3), "PNG");

    ASSERT_EQ(
        RunProgram("--headless --root " + root.path.string() + " --script " + script.string()), 0);
    EXPECT_EQ(ReadAll(root.path / "a.json"), a);
    EXPECT_EQ(ReadAll(root.path / "b.json"), b);
    EXPECT_EQ(ReadAll(root.path / "shot.frame"), frame);
    // The close saved the settings.
    EXPECT_NE(ReadAll(root.path / "kordavel.ini").find("[KeysForPlayer1]"), std::string::npos);
}

TEST(Headless, ExitCodesForStartUpMessagesScriptsAndArguments) {
    TempRoot root;
    std::string err;
    fs::remove(root.path / "data" / "tank.fnt");
    EXPECT_EQ(RunProgram("--headless --ticks 5 --root " + root.path.string(), &err), 1);
    EXPECT_NE(err.find("File \"data\\tank.fnt\" not found!"), std::string::npos) << err;

    const fs::path script = root.path / "bad.txt";
    std::ofstream(script) << "1 key 38 down\n# fine\n2 key 38 sideways\n";
    EXPECT_EQ(RunProgram("--headless --root " + root.path.string() + " --script " + script.string(),
                         &err),
              2);
    EXPECT_NE(err.find("line 3"), std::string::npos) << err;

    EXPECT_EQ(RunProgram("--headless --ticks many"), 2);
    EXPECT_EQ(RunProgram("--frobnicate"), 2);
    EXPECT_EQ(RunProgram("--headless --frame-stats"), 2);
    for (const char* bad :
         {"--stages 5-3", "--stages 1,", "--stages 0-2", "--seeds 0", "--seeds x"})
        EXPECT_EQ(RunProgram(std::string("--stage-curve ") + bad, &err), 2) << bad;
}

TEST(Headless, StageCurveNamesAStageTheLevelFileLacks) {
    TempRoot root;  // the demonstration's map and two stages
    std::string err;
    EXPECT_EQ(RunProgram("--stage-curve --stages 2-3 --root " + root.path.string(), &err), 1);
    EXPECT_NE(err.find("the level file has no stage 3"), std::string::npos) << err;
}

TEST(Headless, BenchPrintsTheTickRateLast) {
    TempRoot root;
    const fs::path out = root.path / "out.txt";
    const std::string cmd = std::string(KORDAVEL_BINARY) +
                            " --headless --bench --ticks 300 --root " + root.path.string() + " >" +
                            out.string();
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const std::string text = ReadAll(out);
    EXPECT_EQ(text.rfind("ticks=300 seconds=", 0), 0u) << text;
    EXPECT_NE(text.find("ticks_per_second="), std::string::npos);
}

TEST(Script, ParsesTheDialogVerbs) {
    auto s = Parse("2 select 3 2\n3 option Options/SoundVolume 50\n4 option ok\n5 forms f.json\n");
    ASSERT_EQ(s.commands.size(), 4u);
    EXPECT_EQ(s.commands[0].verb, runner::Command::Select);
    EXPECT_EQ(s.commands[0].code, 3);
    EXPECT_EQ(s.commands[0].mode, 2);
    EXPECT_EQ(s.commands[1].text, "Options/SoundVolume");
    EXPECT_EQ(s.commands[1].code, 50);
    EXPECT_EQ(s.commands[2].text, "ok");
    EXPECT_TRUE(runner::ScriptPlayer(s).UsesForms());
}

#ifdef KORDAVEL_ROOT
namespace {

// A copy of the game's own data, so that the settings written at close stay out of the build.
struct RealRoot : TempRoot {
    RealRoot() {
        fs::create_directories(path / "run");
        fs::copy(fs::path(KORDAVEL_ROOT) / "data", path / "run" / "data",
                 fs::copy_options::recursive);
    }
    int Run(const std::string& script, std::string* err) {
        std::ofstream(path / "s.txt") << script;
        return RunProgram("--headless --root " + (path / "run").string() + " --script " +
                              (path / "s.txt").string(),
                          err);
    }
    std::string Dump(const char* name) const { return (path / name).string(); }
};

long JsonNumber(const std::string& json, const std::string& key) {
    const size_t at = json.find("\"" + key + "\": ");
    return at == std::string::npos ? -999 : std::stol(json.substr(at + key.size() + 4));
}

}  // namespace

// The last stage of the shipped level file is reachable through the level dialog's Ok, in each
// mode; a stage past it is refused with a message.
TEST(Headless, SelectStartsAnyStageOfTheShippedLevelFile) {
    RealRoot root;
    std::string err;
    ASSERT_EQ(root.Run("1 dump " + root.Dump("a.json") + "\n", &err), 0) << err;
    const long count = JsonNumber(ReadAll(root.path / "a.json"), "LevelCount");
    ASSERT_GT(count, 1);
    for (int mode = 0; mode <= 2; ++mode) {
        ASSERT_EQ(root.Run("5 select " + std::to_string(count) + " " + std::to_string(mode) +
                               "\n5 dump " + root.Dump("b.json") + "\n",
                           &err),
                  0)
            << err;
        const std::string b = ReadAll(root.path / "b.json");
        EXPECT_EQ(JsonNumber(b, "StageNumber"), count);
        EXPECT_EQ(JsonNumber(b, "GameState"), kdv::gsStageIntro);
        EXPECT_EQ(JsonNumber(b, "GameMode"), kdv::gmOnePlayer + mode);
        EXPECT_EQ(JsonNumber(b, "position"), count);  // the spinner opens on the stage started
    }
    EXPECT_EQ(root.Run("5 select " + std::to_string(count + 1) + " 0\n", &err), 2);
    EXPECT_NE(err.find("line 1: stage " + std::to_string(count + 1)), std::string::npos) << err;
}

// Options edits reach kordavel.ini only through Ok; the JSON dump shows the copy being edited.
TEST(Headless, OptionVerbsEditACopyThatOkSaves) {
    RealRoot root;
    std::string err;
    ASSERT_EQ(root.Run("2 option Options/SoundVolume 50\n2 option KeysForPlayer1/Fire 88\n"
                       "2 dump " +
                           root.Dump("open.json") +
                           "\n3 option cancel\n"
                           "4 option KeysForPlayer1/Fire 89\n5 option ok\n",
                       &err),
              0)
        << err;
    const std::string open = ReadAll(root.path / "open.json");
    const size_t working = open.find("\"working\"");
    ASSERT_NE(working, std::string::npos);
    EXPECT_EQ(JsonNumber(open.substr(working), "soundVolume"), 50);
    EXPECT_EQ(JsonNumber(open, "soundVolume"), 100);  // the live value comes first
    const std::string ini = ReadAll(root.path / "run" / "kordavel.ini");
    EXPECT_NE(ini.find("SoundVolume=100"), std::string::npos) << ini;  // cancelled
    EXPECT_NE(ini.find("Fire=89"), std::string::npos) << ini;
    EXPECT_EQ(root.Run("2 option Options/SoundVolume 53\n", &err), 2);
    EXPECT_NE(err.find("steps of 5"), std::string::npos) << err;
    EXPECT_EQ(root.Run("2 forms f.json\n", &err), 2);
}

// A key pressed and released between two ticks is down for one tick, as in the window.
TEST(Headless, KeyTappedBetweenTicksIsDownForOneTick) {
    RealRoot root;
    std::string err;
    ASSERT_EQ(root.Run("3 key 38 down\n3 key 38 up\n3 dump " + root.Dump("t3.json") + "\n4 dump " +
                           root.Dump("t4.json") + "\n",
                       &err),
              0)
        << err;
    EXPECT_NE(ReadAll(root.path / "t3.json").find("\"KeysDown\": [38]"), std::string::npos);
    EXPECT_NE(ReadAll(root.path / "t4.json").find("\"KeysDown\": []"), std::string::npos);
}

// The demonstration on the game's own data, 100,000 ticks twice: the same play both times.
TEST(Headless, DemonstrationIsDeterministicOverALongRun) {
    TempRoot out;  // only for the outputs; the data are the game's own
    const fs::path script = out.path / "demo.txt";
    std::ofstream(script) << "1 menu MDemo\n"
                          << "100000 dump " << (out.path / "end.json").string() << "\n"
                          << "100000 screen " << (out.path / "end").string() << "\n";
    // A copy of the data, so that the settings written at close stay out of the build.
    fs::create_directories(out.path / "run");
    fs::copy(fs::path(KORDAVEL_ROOT) / "data", out.path / "run" / "data",
             fs::copy_options::recursive);
    const std::string args =
        "--headless --root " + (out.path / "run").string() + " --script " + script.string();
    std::string err;
    ASSERT_EQ(RunProgram(args, &err), 0) << err;
    const std::string first = ReadAll(out.path / "end.json");
    const std::string frame = ReadAll(out.path / "end.frame");
    ASSERT_EQ(RunProgram(args, &err), 0) << err;
    EXPECT_EQ(ReadAll(out.path / "end.json"), first);
    EXPECT_EQ(ReadAll(out.path / "end.frame"), frame);
    EXPECT_NE(first.find("\"tick\": 100000"), std::string::npos);
}
#endif

TEST(Headless, CommandLineMistakesGetAMessageAndNothingIsWritten) {
    TempRoot root;
    std::string err;
    const std::string r = " --root " + root.path.string();
    // A folder given as the script, a flag taken for the root folder, a missing root folder.
    EXPECT_EQ(RunProgram("--headless" + r + " --script " + root.path.string(), &err), 2);
    EXPECT_NE(err.find("is not a file"), std::string::npos) << err;
    EXPECT_EQ(RunProgram("--root --headless --ticks 1", &err), 2);
    EXPECT_NE(err.find("--root needs a value"), std::string::npos) << err;
    EXPECT_EQ(RunProgram("--headless --ticks 1 --root " + (root.path / "nowhere").string(), &err),
              2);
    EXPECT_NE(err.find("there is no folder"), std::string::npos) << err;
    EXPECT_EQ(RunProgram("--headless --ticks 330000001" + r, &err), 2);
    EXPECT_NE(err.find("330000000"), std::string::npos) << err;
    // A folder without the game's data: the start-up message, and no settings file left there.
    const fs::path empty = root.path / "empty";
    fs::create_directories(empty);
    EXPECT_EQ(RunProgram("--headless --ticks 1 --root " + empty.string(), &err), 1);
    EXPECT_FALSE(fs::exists(empty / "kordavel.ini"));
    EXPECT_FALSE(fs::exists(root.path / "kordavel.ini"));

    // Outputs after the game closed, or after the last tick run, are reported.
    const fs::path script = root.path / "exit.txt";
    std::ofstream(script) << "5 menu MExit\n5 dump " << (root.path / "same.json").string()
                          << "\n9 dump " << (root.path / "late.json").string() << "\n";
    EXPECT_EQ(RunProgram("--headless" + r + " --script " + script.string(), &err), 1);
    EXPECT_NE(err.find("line 2: dump"), std::string::npos) << err;
    EXPECT_NE(err.find("line 3: dump"), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(root.path / "late.json"));
}

#ifdef KORDAVEL_ROOT
// The game's own data with a hand-edited settings file and a level file cut short: the editor's
// level becomes the next stage after a restart, and the settings file keeps what the player wrote.
TEST(Headless, EditorAndSettingsOnTheShippedData) {
    TempRoot out;
    const fs::path run = out.path / "run";
    fs::create_directories(run);
    fs::copy(fs::path(KORDAVEL_ROOT) / "data", run / "data", fs::copy_options::recursive);
    const std::string shipped = ReadAll(run / "data/lswap.dat");
    std::ofstream(run / "data/lswap.dat", std::ios::app) << "cut short";
    const std::string ini =
        "\xEF\xBB\xBF; mine\r\n[Options]\r\nSoundVolume=35 ; quieter\r\n"
        "GameDifficulty=2;hard\r\n[Mine]\r\nkept=1\r\n";
    std::ofstream(run / "kordavel.ini", std::ios::binary) << ini;

    const fs::path script = out.path / "edit.txt";
    std::ofstream(script) << "1 dump " << (out.path / "before.json").string() << "\n"
                          << "2 menu MLevelEditor\n4 key 13 down\n5 key 27 down\n";
    std::string err;
    const std::string args = "--headless --root " + run.string() + " --script ";
    ASSERT_EQ(RunProgram(args + script.string(), &err), 0) << err;
    const std::string before = ReadAll(out.path / "before.json");
    EXPECT_NE(before.find("\"gameDifficulty\": 2"), std::string::npos) << before;

    // The partial bytes gave way to a whole record, and every stock record is unchanged.
    const std::string levels = ReadAll(run / "data/lswap.dat");
    ASSERT_EQ(levels.size(), shipped.size() + 176);
    EXPECT_EQ(levels.substr(0, shipped.size()), shipped);
    const std::string saved = ReadAll(run / "kordavel.ini");
    EXPECT_EQ(saved.rfind(ini.substr(0, ini.find("[Mine]")), 0), 0u) << saved;
    EXPECT_NE(saved.find("[Mine]\r\nkept=1\r\n"), std::string::npos) << saved;

    const fs::path again = out.path / "again.txt";
    std::ofstream(again) << "1 dump " << (out.path / "after.json").string() << "\n";
    ASSERT_EQ(RunProgram(args + again.string(), &err), 0) << err;
    const auto count = [](const std::string& json) {
        const size_t at = json.find("\"LevelCount\": ");
        return std::stol(json.substr(at + 14));
    };
    EXPECT_EQ(count(ReadAll(out.path / "after.json")), count(before) + 1);
    EXPECT_EQ(count(before), long(shipped.size() / 176) - 1);
}
#endif
