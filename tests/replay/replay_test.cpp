// Replays: the file format against damage, recording and playing back in-process (settings and
// level selections changed between ticks, as the dialogs do), the program's --record, --replay
// and --verify on the game's own data, and the folder that keeps the last games.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "app/runner/command_line.h"
#include "app/runner/script.h"
#include "app/runner/state_json.h"
#include "core/controls/settings.h"
#include "core/flow/game_flow.h"
#include "core/flow/main_form.h"
#include "recording/recorded_game.h"
#include "replay/game_state.h"
#include "replay/library.h"
#include "replay/playback.h"
#include "replay/recorder.h"
#include "replay/state_hash.h"
#include "testkit/testkit.h"

namespace fs = std::filesystem;
using replay::Event;

namespace {

using testkit::ReadAll;

fs::path TempDir(const std::string& name) {
    const fs::path path =
        fs::temp_directory_path() / ("kordavel-replay-" + name + "-" + std::to_string(::getpid()));
    fs::remove_all(path);
    fs::create_directories(path);
    return path;
}

Event Make(Event::Kind kind, int64_t a = 0, int32_t b = 0) {
    Event e;
    e.kind = kind;
    e.a = a;
    e.b = b;
    return e;
}

std::vector<Event> Events(const replay::Replay& r) {
    std::vector<Event> out;
    replay::EventReader reader(r.stream);
    Event e;
    while (reader.Next(e)) out.push_back(e);
    EXPECT_EQ(reader.Error(), "");
    return out;
}

std::vector<Event> SampleEvents() {
    Event settings = Make(Event::Settings);
    settings.settings.settings.paletteType = true;
    settings.settings.settings.joystick1[4] = 300;
    settings.settings.starPeriod = 16;
    Event dialogs = Make(Event::Dialogs);
    dialogs.dialogs.position = 36;
    dialogs.dialogs.gameItem = 2;
    dialogs.dialogs.optionsOpen = true;
    dialogs.dialogs.working.soundVolume = 53;  // as a settings file may hold it
    dialogs.dialogs.working.keys1[4] = 88;
    Event checkpoint = Make(Event::Checkpoint);
    checkpoint.hash = 0xfedcba9876543210ull;
    return {Make(Event::Clock, 1234),
            Make(Event::Ticks, 3),
            Make(Event::Input, 1 << 5),
            Make(Event::Key, 27),
            Make(Event::Menu, 5),
            settings,
            dialogs,
            Make(Event::OptionsOk),
            Make(Event::Clock, -20),
            Make(Event::SelectOk, 3, 2),
            checkpoint,
            Make(Event::Write, 0),
            Make(Event::Ticks, 997)};
}

replay::Replay Sample() {
    replay::Replay r;
    r.header.build = replay::BuildIdentity();
    r.header.startTime = 1'765'000'000'000;
    r.header.data[1] = {36, 0x0123456789abcdefull};
    r.header.levelsRead = {0x05, 0, 0, 0, 0x08};
    r.header.start.settings.gameDifficulty = 2;
    r.header.start.settings.keys2[0] = -5;
    r.header.dialogs.position = 4;
    r.header.mode = 2;
    r.header.stage = 7;
    r.header.ticks = 1000;
    r.header.scores = {1200, 300};
    for (int k = 0; k < 3 * 176; ++k) r.header.levelRecords.push_back(uint8_t(k * 7));
    for (const Event& e : SampleEvents()) replay::AppendEvent(r.stream, e);
    return r;
}

}  // namespace

// A game read into one that had filled its background: the bytes that came in are not in the
// notes of what was drawn since that fill, so the next fill must fill everything.
TEST(GameState, ABackgroundReadInIsFilledWholeByTheNextFill) {
    testkit::Rig rig, other;
    for (testkit::Rig* r : {&rig, &other}) {
        r->InstallStandardData(4);
        ASSERT_TRUE(r->StartUp());
        r->Tick(40);
    }
    kdv::FillBackRect(rig.g().BackScreen, 10, 10, 50, 50, 9);
    std::string why;
    ASSERT_TRUE(replay::LoadGameState(replay::SaveGameState(rig.g()), other.g(), why)) << why;
    kdv::FillScreen(other.g().BackScreen, 0);
    const auto& back = other.g().BackScreen.Bytes();
    EXPECT_EQ(std::count(back.begin(), back.begin() + kdv::kScreenPixels, 0), kdv::kScreenPixels);
}

// The checkpoints take eight bytes a step: a change in any bit of either screen, in the top
// bit of a word, in the bytes after the last whole word, or in two words of one lane (which a
// plain multiply would let cancel) must still show.
TEST(ReplayChecks, TheCheckpointHashSeesOneBitChangedAnywhereInTheScreens) {
    testkit::Rig rig;
    rig.InstallStandardData(4);
    ASSERT_TRUE(rig.StartUp());
    rig.Tick(40);
    const uint64_t before = replay::CheckpointHash(rig.g());
    const std::vector<std::vector<std::pair<size_t, int>>> changes = {
        {{0, 0}},          {{7, 7}},
        {{31, 3}},         {{32, 0}},
        {{40000, 5}},      {{kdv::kScreenBytes - 1, 7}},
        {{7, 7}, {39, 7}}, {{kdv::kScreenBytes - 5, 0}, {kdv::kScreenBytes - 37, 0}}};
    for (auto* screen : {&rig.g().BackScreen, &rig.g().FrameScreen})
        for (const auto& change : changes) {
            auto flip = [&] {
                auto bytes = screen->Bytes();
                for (auto [at, bit] : change) bytes[at] ^= uint8_t(1 << bit);
                screen->Load(bytes);
            };
            flip();
            EXPECT_NE(replay::CheckpointHash(rig.g()), before) << change[0].first;
            flip();
        }
    EXPECT_EQ(replay::CheckpointHash(rig.g()), before);
}

TEST(ReplayFormat, RoundTripsTheHeaderAndEveryKindOfEvent) {
    replay::Replay r = Sample();
    // A kept game's start: the state of a game after a few ticks.
    testkit::Rig rig;
    rig.InstallStandardData(4);
    ASSERT_TRUE(rig.StartUp());
    rig.Tick(40);
    r.header.from = replay::StartState{replay::SaveGameState(rig.g()), 1u << 28, 77};
    r.header.side = replay::Side::Watcher;
    r.header.partner = "192.0.2.7:7510";
    r.header.from->tick = 123456;
    const auto decoded = replay::Decode(replay::Encode(r));
    ASSERT_TRUE(decoded.replay) << decoded.error;
    const replay::Replay& d = *decoded.replay;
    EXPECT_EQ(d.header.build, r.header.build);
    EXPECT_EQ(d.header.startTime, r.header.startTime);
    EXPECT_EQ(d.header.data[1].size, 36u);
    EXPECT_EQ(d.header.data[1].hash, r.header.data[1].hash);
    EXPECT_EQ(d.header.levelsRead, r.header.levelsRead);
    EXPECT_EQ(d.header.levelRecords, r.header.levelRecords);
    EXPECT_TRUE(d.header.start == r.header.start);
    EXPECT_TRUE(d.header.dialogs == r.header.dialogs);
    EXPECT_EQ(d.header.mode, 2);
    EXPECT_EQ(d.header.stage, 7);
    EXPECT_EQ(d.header.ticks, 1000);
    EXPECT_EQ(d.header.scores, r.header.scores);
    ASSERT_TRUE(d.header.from);
    EXPECT_EQ(d.header.from->game, r.header.from->game);
    EXPECT_EQ(d.header.from->mask, 1u << 28);
    EXPECT_EQ(d.header.from->clock, 77u);
    EXPECT_EQ(d.header.side, replay::Side::Watcher);
    EXPECT_EQ(d.header.partner, "192.0.2.7:7510");
    EXPECT_EQ(d.header.from->tick, 123456);
    const auto events = Events(d), sent = SampleEvents();
    ASSERT_EQ(events.size(), sent.size());
    for (size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].kind, sent[i].kind) << i;
        EXPECT_EQ(events[i].a, sent[i].a) << i;
        EXPECT_EQ(events[i].b, sent[i].b) << i;
        EXPECT_EQ(events[i].hash, sent[i].hash) << i;
        EXPECT_TRUE(events[i].settings == sent[i].settings) << i;
        EXPECT_TRUE(events[i].dialogs == sent[i].dialogs) << i;
    }
    // The state read back is the state: its hash is the game's.
    testkit::Rig other;
    other.InstallStandardData(4);
    ASSERT_TRUE(other.StartUp());
    std::string why;
    ASSERT_TRUE(replay::LoadGameState(d.header.from->game, other.g(), why)) << why;
    EXPECT_EQ(replay::CheckpointHash(other.g()), replay::CheckpointHash(rig.g()));
    // A listing reads the header from the first bytes alone.
    const auto bytes = replay::Encode(d);
    const auto head = replay::DecodeHeader({bytes.data(), 200});
    ASSERT_TRUE(head);
    EXPECT_EQ(head->scores, r.header.scores);
}

TEST(ReplayFormat, TruncatedDamagedOldAndEndlessFilesGiveAMessage) {
    const auto bytes = replay::Encode(Sample());
    for (size_t n = 0; n < bytes.size(); ++n) {
        const auto result = replay::Decode({bytes.data(), n});
        EXPECT_FALSE(result.replay) << n;
        EXPECT_FALSE(result.error.empty()) << n;
    }
    for (size_t i = 0; i < bytes.size(); ++i) {
        auto damaged = bytes;
        damaged[i] ^= 0x41;
        EXPECT_FALSE(replay::Decode(damaged).replay) << i;  // the checksum sees every byte
        replay::Decode(damaged, false);                     // and past it, no crash either
    }
    auto other = Sample();
    replay::AppendEvent(other.stream, Make(Event::Ticks, 1));  // one more than the header counts
    EXPECT_NE(replay::Decode(replay::Encode(other)).error.find("more ticks"), std::string::npos);
    EXPECT_EQ(replay::Decode(std::vector<uint8_t>(40, 'x')).error, "this is not a Kordavel replay");
    // The files of the format before: refused, saying so.
    auto old = bytes;
    old[8] = 2;
    EXPECT_NE(replay::Decode(old, false).error.find("format 2, written by an older Kordavel"),
              std::string::npos);
    // A valid file of 2^31 - 1 idle ticks (about 10 bytes of stream) is no game: refused at once,
    // where it used to keep a viewer busy for an hour and more.
    auto endless = Sample();
    endless.header.ticks = INT32_MAX;
    endless.stream.clear();
    for (int64_t left = INT32_MAX; left > 0; left -= replay::kMaxTicks)
        replay::AppendEvent(endless.stream, Make(Event::Ticks, std::min(left, replay::kMaxTicks)));
    const auto refused = replay::Decode(replay::Encode(endless));
    EXPECT_NE(refused.error.find("longer than"), std::string::npos) << refused.error;
}

// The script's keys, as the headless runner gives them to its devices.
class RigInput : public runner::InputSink {
  public:
    explicit RigInput(adapters::VirtualInput& input) : input_(input) {}
    void SetKey(int code, bool down) override { input_.SetKey(code, down); }
    void SetJoyState(int state, bool on) override { input_.SetJoyState(state, on); }
    bool KeyHeld(int code) const override { return input_.LiveKey(code); }

  private:
    adapters::VirtualInput& input_;
};

// A game recorded in-process through the script verbs the runner's --record uses: the options
// dialog edited across ticks, its Ok and Cancel, and a duel started by the level selection
// dialog in the middle of a game; with a palette change from the menu and a window that
// could not draw. Every tick of the playback hashes the same as the recorded one, both for the
// whole run and for the one-player game's own file, which starts where that game started.
TEST(ReplayPlayback, SettingsAndLevelSelectionBetweenTicksPlayBackTickForTick) {
    testkit::Rig rig;
    rig.InstallStandardData(4);
    recording::RecordedGame recorded(recording::Keep::GamesAndRun);
    rig.game = recorded.Make(rig.ServicesWith(rig.files));
    ASSERT_TRUE(rig.StartUp());
    recorded.Begin();
    std::vector<replay::Replay> ended;
    recorded.onGameEnded = [&](const replay::Replay& game) { ended.push_back(game); };

    std::istringstream text(
        "121 menu MStart1Player\n121 key 32 down\n124 key 32 up\n124 key 17 down\n"
        "124 key 37 down\n324 key 80 down\n414 key 80 up\n"
        "422 option Options/GameDifficulty 3\n422 option KeysForPlayer1/Fire 32\n"
        "425 option Options/SoundVolume 35\n430 option ok\n430 menu PaletteType\n"
        "430 key 32 down\n580 option Options/SoundVolume 5\n580 select 3 2\n"
        "585 key 27 down\n585 key 65 down\n600 option defaults\n610 option cancel\n"
        "700 option KeysForPlayer2/Fire 88\n701 option ok\n");
    runner::ScriptPlayer script(runner::ParseScript(text));
    RigInput sink(rig.input);
    std::vector<uint64_t> hashes;
    for (long t = 1; t <= 885; ++t) {
        script.ApplyInputs(t, recorded, sink);
        rig.display.canDraw = t < 415 || t > 421;  // a minimised window presents nothing
        recorded.Tick();
        rig.clock.now += 13 + t % 3;  // the window's clock is never exact
        hashes.push_back(replay::CheckpointHash(rig.g()));
    }
    EXPECT_EQ(rig.g().Settings.gameDifficulty, 3);
    EXPECT_EQ(rig.g().Settings.keys2[kdv::Fire], 88);
    ASSERT_EQ(ended.size(), 1u);  // the one-player game, ended by the level selection
    const replay::Replay* finished = &ended[0];
    EXPECT_EQ(finished->header.mode, kdv::gmOnePlayer);
    // From the tick the menu started it on (121) to the level selection before tick 580.
    ASSERT_TRUE(finished->header.from);
    EXPECT_EQ(finished->header.ticks, 579 - 121);
    auto playAll = [&](replay::Replay data, size_t offset) {
        adapters::VirtualWindow window;
        kdv::Services outer;
        outer.window = &window;
        EXPECT_FALSE(replay::CheckReplay(data, rig.files));
        replay::Playback playback(std::move(data), rig.files, outer);
        EXPECT_TRUE(playback.Start());
        size_t same = 0;
        while (playback.Step()) {
            const size_t t = size_t(playback.TicksRun()) + offset;
            if (t > hashes.size() || replay::CheckpointHash(playback.Game()) != hashes[t - 1]) {
                ADD_FAILURE() << "the replay left the recorded game at tick " << t;
                break;
            }
            ++same;
        }
        playback.Finish();
        EXPECT_FALSE(playback.PartedAt()) << playback.PartedMessage();
        return same;
    };
    EXPECT_EQ(playAll(*finished, 121), size_t(579 - 121));

    const auto bytes = replay::Encode(recorded.Whole());
    auto decoded = replay::Decode(bytes);
    ASSERT_TRUE(decoded.replay) << decoded.error;
    EXPECT_EQ(decoded.replay->header.mode, kdv::gmDuel);
    EXPECT_EQ(decoded.replay->header.stage, 3);
    EXPECT_EQ(playAll(*decoded.replay, 0), hashes.size());
    const auto duel = recorded.GameInProgress();
    ASSERT_TRUE(duel);
    EXPECT_EQ(duel->header.mode, kdv::gmDuel);
    EXPECT_EQ(playAll(*duel, 580), size_t(885 - 580));
}

TEST(ReplayLibrary, KeepsTheLastGamesAndEveryFileThePlayerRenamed) {
    const fs::path folder = TempDir("library");
    replay::Replay game = Sample();
    const auto start = std::chrono::system_clock::now();
    std::ofstream(folder / "keep-best.kdr") << "mine";
    std::ofstream(folder / "notes.txt") << "mine";
    std::vector<fs::path> saved;
    for (int i = 0; i < 25; ++i) {
        std::string error;
        saved.push_back(
            replay::SaveGame(folder, game, start + std::chrono::seconds(i / 2), error, 20));
        ASSERT_FALSE(saved.back().empty()) << error;
    }
    EXPECT_NE(saved[0], saved[1]);  // two games in the same second
    int games = 0;
    for (const auto& entry : fs::directory_iterator(folder))
        games += replay::IsGameFileName(entry.path().filename().string());
    EXPECT_EQ(games, 20);
    for (int i = 0; i < 5; ++i) EXPECT_FALSE(fs::exists(saved[size_t(i)])) << i;
    for (int i = 5; i < 25; ++i) EXPECT_TRUE(fs::exists(saved[size_t(i)])) << i;
    EXPECT_TRUE(fs::exists(folder / "keep-best.kdr"));
    EXPECT_TRUE(fs::exists(folder / "notes.txt"));
    std::string error;
    EXPECT_TRUE(replay::LoadReplay(saved.back().string(), error)) << error;
    fs::remove_all(folder);
}

TEST(ReplayChecks, AReplayOfAnotherBuildIsRefusedNamingBoth) {
    testkit::Rig rig;
    rig.InstallStandardData(4);
    replay::Replay r = Sample();
    // The file's bytes are shown printable only: an escape sequence never reaches a terminal.
    r.header.build = "0.1.0+00000000\x1b]2;pwned\x07\x9b";
    const auto why = replay::CheckReplay(r, rig.files);
    ASSERT_TRUE(why);
    EXPECT_NE(why->find("0.1.0+00000000?]2;pwned??"), std::string::npos) << *why;
    EXPECT_NE(why->find(replay::BuildIdentity()), std::string::npos) << *why;
    for (char c : *why) EXPECT_TRUE(c >= ' ' && c <= '~') << int(c);
}

namespace {

// Records ticks of a rig with a script, as the runner does.
struct Recording {
    testkit::Rig rig;
    recording::RecordedGame recorded;
    std::vector<uint64_t> hashes;       // after each tick
    std::vector<replay::Replay> ended;  // the games ended so far

    explicit Recording(recording::Keep keep = recording::Keep::GamesAndRun) : recorded(keep) {
        rig.InstallStandardData(4);
        rig.game = recorded.Make(rig.ServicesWith(rig.files));
        EXPECT_TRUE(rig.StartUp());
        recorded.Begin();
        recorded.onGameEnded = [this](const replay::Replay& game) { ended.push_back(game); };
    }
    void Run(const std::string& lines, long from, long to) {
        std::istringstream text(lines);
        runner::ScriptPlayer script(runner::ParseScript(text));
        RigInput sink(rig.input);
        for (long t = from; t <= to; ++t) {
            script.ApplyInputs(t, recorded, sink);
            recorded.Tick();
            rig.clock.now += 13;
            hashes.push_back(replay::CheckpointHash(rig.g()));
        }
    }
};

// Plays a replay to its end on these files; the tick it parted at, if it did.
std::optional<int64_t> PlayOn(const replay::Replay& data, kdv::FileSystem& files,
                              uint64_t* endHash = nullptr) {
    adapters::VirtualWindow window;
    kdv::Services outer;
    outer.window = &window;
    if (auto why = replay::CheckReplay(data, files)) {
        ADD_FAILURE() << *why;
        return -1;
    }
    replay::Playback playback(data, files, outer);
    EXPECT_TRUE(playback.Start());
    while (playback.Step()) {
    }
    playback.Finish();
    if (endHash) *endHash = replay::CheckpointHash(playback.Game());
    return playback.PartedAt();
}

}  // namespace

// A level editor's save that failed while recording (a read-only level file) fails again in
// the replay, wherever it is played: the editor stays open, and the game after it is the one
// recorded. A save that succeeded succeeds in memory, even where the level file is read-only.
TEST(ReplayPlayback, FileWritesEndAsTheyEndedWhileRecording) {
    Recording rec;
    rec.rig.files.readOnly.insert("data/lswap.dat");
    rec.Run("20 menu MLevelEditor\n30 key 39 down\n31 key 39 up\n40 key 27 down\n41 key 27 up\n", 1,
            60);
    ASSERT_EQ(rec.rig.g().GameState, kdv::gsLevelEditor);  // not saved: the editor stays
    ASSERT_FALSE(rec.rig.window.messages.empty());
    rec.rig.files.readOnly.clear();
    rec.Run("61 key 27 down\n62 key 27 up\n", 61, 120);
    ASSERT_EQ(rec.rig.g().GameState, kdv::gsTitleScroll);  // saved on the second Esc
    const auto levels = rec.rig.files.files["data/lswap.dat"];
    const replay::Replay whole = rec.recorded.Whole();

    // Played where the level file can be written: the first save fails all the same.
    testkit::Rig writable;
    writable.InstallStandardData(4);
    uint64_t end = 0;
    EXPECT_FALSE(PlayOn(whole, writable.files, &end));
    EXPECT_EQ(end, rec.hashes.back());
    // Played where it cannot: the second save succeeds, in memory only.
    testkit::Rig readOnly;
    readOnly.InstallStandardData(4);
    readOnly.files.readOnly.insert("data/lswap.dat");
    EXPECT_FALSE(PlayOn(whole, readOnly.files));
    EXPECT_EQ(readOnly.files.files["data/lswap.dat"].size() + 176, levels.size());
}

// A stream that reads other input than the game it was recorded from parts at a checkpoint,
// and says at which tick.
TEST(ReplayPlayback, AnAlteredStreamPartsAtTheCheckpointAfterTheChange) {
    Recording rec;
    rec.Run(
        "121 menu MStart1Player\n125 key 32 down\n127 key 32 up\n130 key 37 down\n"
        "900 key 37 up\n900 key 38 down\n",
        1, 3500);
    replay::Replay whole = rec.recorded.Whole();
    ASSERT_FALSE(PlayOn(whole, rec.rig.files));
    // The move up at tick 900 becomes a move right.
    replay::Replay altered = whole;
    altered.stream.clear();
    replay::EventReader events(whole.stream);
    Event e;
    const uint32_t up = 1u << kdv::MoveUp, right = 1u << kdv::MoveRight;
    bool changed = false;
    while (events.Next(e)) {
        if (e.kind == Event::Input && e.a == up && !changed) e.a = right, changed = true;
        replay::AppendEvent(altered.stream, e);
    }
    ASSERT_TRUE(changed);
    const auto parted = PlayOn(altered, rec.rig.files);
    ASSERT_TRUE(parted);
    EXPECT_EQ(*parted, 1000);  // the first checkpoint after tick 900
}

// Kept games: a clock set back or a time zone west names new files before the old ones; the
// file just written stays, and the oldest by recorded start go. Temporaries left by a kill are
// cleaned up once they are stale.
TEST(ReplayLibrary, PrunesByRecordedStartAndNeverTheFileJustWritten) {
    const fs::path folder = TempDir("clock");
    replay::Replay game = Sample();
    const auto now = std::chrono::system_clock::now();
    std::vector<fs::path> ahead;
    for (int i = 0; i < 20; ++i) {
        std::string error;
        game.header.startTime = 2'000'000'000'000 + i;  // recorded with the clock ahead
        ahead.push_back(replay::SaveGame(
            folder, game, now + std::chrono::hours(30) + std::chrono::seconds(i), error, 20));
        ASSERT_FALSE(ahead.back().empty()) << error;
    }
    std::string error;
    game.header.startTime = 1'700'000'000'000;
    const fs::path latest = replay::SaveGame(folder, game, now, error, 20);
    EXPECT_TRUE(fs::exists(latest));
    EXPECT_FALSE(fs::exists(ahead[0]));  // the earliest recorded start of the others
    for (int i = 1; i < 20; ++i) EXPECT_TRUE(fs::exists(ahead[size_t(i)])) << i;
    const auto listed = replay::ListGames(folder);
    ASSERT_EQ(listed.size(), 20u);
    EXPECT_EQ(listed.front().path, ahead[19]);  // newest first, by recorded start
    EXPECT_EQ(listed.back().path, latest);

    std::ofstream(folder / "killed.kdr.part") << "half";
    std::ofstream(folder / "saving.kdr.part") << "half";
    fs::last_write_time(folder / "killed.kdr.part",
                        fs::file_time_type::clock::now() - std::chrono::minutes(5));
    replay::CleanPartFiles(folder);
    EXPECT_FALSE(fs::exists(folder / "killed.kdr.part"));
    EXPECT_TRUE(fs::exists(folder / "saving.kdr.part"));  // perhaps being written right now
    fs::remove_all(folder);
}

// The window's recorder keeps only the game in progress: the title and demos before it cost
// nothing, and the second game's file holds the second game only.
TEST(ReplayRecorder, KeepsOnlyTheGameInProgress) {
    Recording rec(recording::Keep::Games);
    rec.Run("", 1, 3000);  // title and demonstration
    EXPECT_EQ(rec.recorded.StreamBytes(), 0u);
    rec.Run("3001 menu MStart1Player\n3005 key 32 down\n3007 key 32 up\n3100 key 17 down\n", 3001,
            4000);
    rec.Run("4001 menu MStart2Player\n4005 key 32 down\n4007 key 32 up\n", 4001, 4600);
    ASSERT_EQ(rec.ended.size(), 1u);
    const replay::Replay* first = &rec.ended[0];
    const auto second = rec.recorded.GameInProgress();
    ASSERT_TRUE(second);
    EXPECT_EQ(first->header.ticks, 4000 - 3001);
    EXPECT_EQ(second->header.ticks, 4600 - 4001);
    EXPECT_EQ(second->header.mode, kdv::gmTwoPlayers);
    uint64_t end = 0;
    EXPECT_FALSE(PlayOn(*second, rec.rig.files, &end));
    EXPECT_EQ(end, rec.hashes.back());
}

// A game that takes up another's state part-way (a spectator coming into a network game)
// records from there: its replay holds the ticks after it, counts those before in its header,
// and plays back to the state of the game it took up.
TEST(ReplayRecorder, AGameTakenUpFromAnothersStateRecordsFromThere) {
    const std::string opening =
        "5 menu MStart2Player\n9 key 32 down\n11 key 32 up\n40 key 17 down\n300 key 37 down\n";
    const std::string rest = "600 key 37 up\n610 key 17 up\n700 key 38 down\n";
    Recording first(recording::Keep::Nothing);
    first.Run(opening, 1, 400);
    Recording second;
    std::string why;
    ASSERT_TRUE(replay::LoadGameState(replay::SaveGameState(first.rig.g()), second.rig.g(), why))
        << why;
    second.rig.g().SelectLevel = first.rig.g().SelectLevel;
    second.rig.clock.now = first.rig.clock.now;
    for (int key : {17, 37}) second.rig.input.SetKey(key, true);  // held at tick 400
    const uint32_t mask = replay::BindingMask(second.rig.g().Settings, second.rig.input);
    second.recorded.StartFrom(400);
    first.Run(rest, 401, 900);
    second.Run(rest, 401, 900);
    ASSERT_EQ(second.hashes.size(), 500u);
    EXPECT_TRUE(std::equal(second.hashes.begin(), second.hashes.end(), first.hashes.end() - 500));
    const auto decoded = replay::Decode(replay::Encode(second.recorded.Whole()));
    ASSERT_TRUE(decoded.replay) << decoded.error;
    const replay::Replay& r = *decoded.replay;
    EXPECT_EQ(r.header.ticks, 500);
    EXPECT_EQ(r.header.mode, kdv::gmTwoPlayers);
    ASSERT_TRUE(r.header.from);
    EXPECT_EQ(r.header.from->tick, 400);
    EXPECT_EQ(r.header.from->mask, mask);
    uint64_t end = 0;
    EXPECT_FALSE(PlayOn(r, second.rig.files, &end));
    EXPECT_EQ(end, first.hashes.back());
}

#ifdef KORDAVEL_ROOT
namespace {

int RunProgram(const std::string& args, std::string* out = nullptr, std::string* err = nullptr) {
    const fs::path o = fs::temp_directory_path() / ("kdv-out-" + std::to_string(::getpid()));
    const fs::path e = fs::temp_directory_path() / ("kdv-err-" + std::to_string(::getpid()));
    const std::string cmd =
        std::string(KORDAVEL_BINARY) + " " + args + " >" + o.string() + " 2>" + e.string();
    const int status = std::system(cmd.c_str());
    if (out) *out = ReadAll(o);
    if (err) *err = ReadAll(e);
    fs::remove(o);
    fs::remove(e);
    return WEXITSTATUS(status);
}

// The hash game's script played in-process on the shipped data, to `ticks`.
void PlayHashGame(testkit::Rig& rig, long ticks) {
    rig.InstallDataFrom(std::string(KORDAVEL_ROOT) + "/data");
    ASSERT_TRUE(rig.StartUp());
    std::ifstream text(KORDAVEL_HASH_GAME);
    runner::ScriptPlayer script(runner::ParseScript(text));
    RigInput sink(rig.input);
    recording::RecordedGame played(rig.g());
    for (long t = 1; t <= ticks; ++t) {
        script.ApplyInputs(t, played, sink);
        played.Tick();
        rig.clock.now += 13;
    }
}

}  // namespace

// A field a kept game carries but the hash leaves out would let a replay part from its game
// unseen. Every byte of a state part-way through the hash game is changed a bit at a time and
// read back: each change that the load does not refuse must change the hash, and the dump too
// unless only the seed or the screens changed (the hash takes those in whole). The state and
// the dump are listed apart (the dump's order is the runner's, the state's the kept files'), so
// both directions are checked.
TEST(GameState, EveryByteTheStateCarriesShowsInTheHashAndTheDump) {
    for (const long tick : {12000L, 26000L}) {
        SCOPED_TRACE(tick);
        testkit::Rig rig;
        PlayHashGame(rig, tick);
        kdv::Game& g = rig.g();
        ASSERT_TRUE(g.GameState == kdv::gsPlay && !g.Paused && g.enemies[0].alive);
        const std::vector<uint8_t> saved = replay::SaveGameState(g);
        const uint64_t hash = replay::StateHash(g, 0);
        const std::string dump = replay::StateJson(g, 0);
        const uint32_t seed = g.RandSeed;
        const auto back = g.BackScreen.Bytes(), frame = g.FrameScreen.Bytes();
        {
            // The other way round: a field the dump shows but the state leaves out would come
            // back from a load as a fresh game has it. The keys held are the machine's.
            testkit::Rig fresh;
            fresh.InstallDataFrom(std::string(KORDAVEL_ROOT) + "/data");
            ASSERT_TRUE(fresh.StartUp());
            std::string why;
            ASSERT_TRUE(replay::LoadGameState(saved, fresh.g(), why)) << why;
            std::istringstream loaded(replay::StateJson(fresh.g(), 0)), played(dump);
            for (std::string a, b; std::getline(played, b) && b.find("KeysDown") == b.npos;) {
                std::getline(loaded, a);
                ASSERT_EQ(a, b) << "a loaded game differs from the one saved";
            }
            EXPECT_TRUE(fresh.g().BackScreen.Bytes() == back &&
                        fresh.g().FrameScreen.Bytes() == frame);
        }
        // Left out of the hash on purpose: the runner's statistics, which change no play; the
        // lineup's entry 0, as the lineup counts its tanks from 1; and the star period, which
        // the difficulty in the dump sets.
        const kdv::PlayCounters counters = g.counters;
        const uint8_t lineup0 = g.EnemyLineup[0];
        const int32_t starPeriod = g.StarPeriod;
        kdv::DeriveSettings(g);
        ASSERT_EQ(g.StarPeriod, starPeriod);
        // The screens come last and are most of the bytes: past where both saved flat the state
        // saves the same, every 127th byte.
        kdv::FillScreen(g.BackScreen, uint8_t(back[0] + 1));
        kdv::FillScreen(g.FrameScreen, uint8_t(frame[0] + 1));
        const std::vector<uint8_t> flat = replay::SaveGameState(g);
        const size_t fields =
            size_t(std::mismatch(saved.begin(), saved.end(), flat.begin(), flat.end()).first -
                   saved.begin());
        size_t loads = 0;
        for (size_t at = 0; at < saved.size(); at += at < fields ? 1 : 127) {
            std::vector<uint8_t> bytes = saved;
            for (int bit = 0; bit < 8; ++bit) {
                bytes[at] = uint8_t(saved[at] ^ (1 << bit));
                std::string why;
                if (!replay::LoadGameState(bytes, g, why)) continue;
                ++loads;
                if (replay::StateHash(g, 0) == hash) {
                    g.counters = counters, g.EnemyLineup[0] = lineup0, g.StarPeriod = starPeriod;
                    EXPECT_TRUE(replay::SaveGameState(g) == saved)
                        << "byte " << at << " bit " << bit << " changes the state, not the hash";
                } else if (replay::StateJson(g, 0) == dump) {
                    EXPECT_TRUE(g.RandSeed != seed || g.BackScreen.Bytes() != back ||
                                g.FrameScreen.Bytes() != frame)
                        << "byte " << at << " bit " << bit << " changes the hash, not the dump";
                }
            }
        }
        // Most changes read: the ranges refuse only what the game never holds.
        EXPECT_GT(loads, 4 * fields);
    }
}

// The hash game recorded and verified through the program on the shipped data: its hash is
// the game's play, tick for tick. When play changes on purpose, give the new value here and in
// docs/performance.md, and say in the commit what changed and why.
TEST(ReplayProgram, TheHashGameVerifiesToItsKnownHash) {
    const fs::path root = TempDir("hashgame");
    fs::copy(fs::path(KORDAVEL_ROOT) / "data", root / "data");
    const std::string r = "--root " + root.string() + " ";
    const std::string file = (root / "game.kdr").string();
    ASSERT_EQ(
        RunProgram(r + "--headless --ticks 30000 --script " KORDAVEL_HASH_GAME " --record " + file),
        0);
    std::string out, err;
    ASSERT_EQ(RunProgram(r + "--replay " + file + " --verify", &out, &err), 0) << err;
    EXPECT_EQ(out, "ticks=30000 hash=a4f3630ff7b6d847\n");
    fs::remove_all(root);
}

// The game's own data through the program: a recorded run and its replay write the same dumps
// and screens; other data files are refused; the editor's save stays out of the level file.
TEST(ReplayProgram, RecordedRunReplaysToTheSameDumpsAndScreensOnTheGamesData) {
    const fs::path root = TempDir("program");
    fs::copy(fs::path(KORDAVEL_ROOT) / "data", root / "data");
    const std::string outputs[] = {"300", "700", "1100", "1500", "1800"};
    std::ofstream script(root / "play.txt");
    script << "130 key 32 down\n132 key 32 up\n160 key 32 down\n161 key 32 up\n"
              "170 key 37 down\n260 key 17 down\n400 key 80 down\n470 key 80 up\n"
              "500 key 37 up\n500 key 38 down\n900 menu MStartDuel\n905 key 32 down\n"
              "910 key 87 down\n1000 menu PaletteType\n1200 menu MLevelEditor\n1210 key 39 "
              "down\n1211 key 13 down\n"
              "1300 key 27 down\n1400 menu MDemo\n1700 key 27 down\n"
              // The dialogs' verbs: options open across a dump, Ok, a level selection, Cancel.
              "650 option Options/GameDifficulty 2\n690 option KeysForPlayer1/Fire 88\n"
              "720 option ok\n1050 option Options/SoundVolume 45\n1060 select 2 1\n"
              "1120 option cancel\n";
    std::ofstream dumps(root / "dumps.txt");
    for (const std::string& t : outputs) {
        script << t << " dump " << (root / ("a" + t + ".json")).string() << "\n"
               << t << " screen " << (root / ("a" + t)).string() << "\n";
        dumps << t << " dump " << (root / ("b" + t + ".json")).string() << "\n"
              << t << " screen " << (root / ("b" + t)).string() << "\n";
    }
    script.close();
    dumps.close();
    const std::string r = "--root " + root.string() + " ";
    const std::string file = (root / "run.kdr").string();
    ASSERT_EQ(RunProgram(r + "--headless --ticks 1800 --script " + (root / "play.txt").string() +
                         " --record " + file),
              0);
    const auto levelsAfterRun = fs::file_size(root / "data/lswap.dat");
    std::string err;
    ASSERT_EQ(
        RunProgram(r + "--headless --replay " + file + " --script " + (root / "dumps.txt").string(),
                   nullptr, &err),
        0)
        << err;
    for (const std::string& t : outputs)
        for (const char* ext : {".json", ".back", ".frame", ".png"})
            EXPECT_EQ(ReadAll(root / ("a" + t + ext)), ReadAll(root / ("b" + t + ext))) << t << ext;
    for (const char* t : {"700", "1100"})  // dumped with the options dialog open
        EXPECT_NE(ReadAll(root / ("a" + std::string(t) + ".json")).find("\"open\": true"),
                  std::string::npos)
            << t;
    EXPECT_EQ(fs::file_size(root / "data/lswap.dat"), levelsAfterRun);  // not appended again

    EXPECT_NE(ReadAll(root / "a300.json").find("\"NextPauseToggleTime\": "), std::string::npos);

    std::string first, second;
    ASSERT_EQ(RunProgram(r + "--replay " + file + " --verify", &first), 0);
    EXPECT_EQ(first.rfind("ticks=1800 hash=", 0), 0u) << first;
    // Levels added since, stray bytes after the last record, the editor's save over them, and
    // a change to a stage the game never read: none of them changes the game.
    std::ofstream(root / "data/lswap.dat", std::ios::app) << std::string(176, '\0') << "stray";
    std::ofstream(root / "edit.txt") << "10 menu MLevelEditor\n20 key 27 down\n";
    ASSERT_EQ(RunProgram(r + "--headless --ticks 30 --script " + (root / "edit.txt").string()), 0);
    EXPECT_EQ(fs::file_size(root / "data/lswap.dat") % 176, 0u);
    auto poke = [&](uint64_t at) {
        std::fstream levels(root / "data/lswap.dat",
                            std::ios::in | std::ios::out | std::ios::binary);
        levels.seekg(long(at));
        const char was = char(levels.get());
        levels.seekp(long(at));
        levels.put(char(was ^ 1));
    };
    poke(176 * 30 + 5);  // stage 30: never played
    ASSERT_EQ(RunProgram(r + "--replay " + file + " --verify", &second), 0);
    EXPECT_EQ(first, second);
    // The records the game read travel with the replay: a change to stage 2, which the level
    // selection started, changes nothing either. The same game written as format 3 carries none:
    // it plays on this machine's level file, and is refused once a record it read differs.
    const std::string old = (root / "format3.kdr").string();
    std::string error;
    auto data = replay::LoadReplay(file, error);
    ASSERT_TRUE(data) << error;
    data->header.formatVersion = 3;
    ASSERT_TRUE(replay::SaveReplay(old, *data, error)) << error;
    for (int changed : {0, 1}) {
        if (changed) poke(176 * 2 + 5);
        ASSERT_EQ(RunProgram(r + "--replay " + file + " --verify", &second), 0);
        EXPECT_EQ(first, second);
    }
    EXPECT_EQ(RunProgram(r + "--replay " + old + " --verify", nullptr, &err), 4);
    EXPECT_NE(err.find("data/lswap.dat"), std::string::npos) << err;
    poke(176 * 2 + 5);

    // A stream with one input changed parts from the game, says where, and exits 4.
    {
        std::string error;
        auto data = replay::LoadReplay(file, error);
        ASSERT_TRUE(data) << error;
        replay::Replay altered = *data;
        altered.stream.clear();
        replay::EventReader events(data->stream);
        Event e;
        int inputs = 0;
        while (events.Next(e)) {
            // The first move left, in play, becomes a move right.
            if (e.kind == Event::Input && (e.a & 1 << kdv::MoveLeft) && !inputs++)
                e.a ^= 1 << kdv::MoveLeft | 1 << kdv::MoveRight;
            replay::AppendEvent(altered.stream, e);
        }
        ASSERT_TRUE(replay::SaveReplay((root / "altered.kdr").string(), altered, error)) << error;
    }
    EXPECT_EQ(
        RunProgram(r + "--replay " + (root / "altered.kdr").string() + " --verify", nullptr, &err),
        4);
    EXPECT_NE(err.find("the replay parts from the game at tick "), std::string::npos) << err;

    // Another graphics pack: refused, and says which file.
    {
        std::fstream grp(root / "data/tank.grp", std::ios::in | std::ios::out | std::ios::binary);
        grp.seekp(100);
        grp.put('\x7f');
    }
    EXPECT_EQ(RunProgram(r + "--replay " + file + " --verify", nullptr, &err), 4);
    EXPECT_NE(err.find("data/tank.grp"), std::string::npos) << err;
    // A damaged file and a missing one.
    std::string bytes = ReadAll(file);
    bytes.resize(bytes.size() / 2);
    std::ofstream(root / "half.kdr", std::ios::binary) << bytes;
    EXPECT_EQ(
        RunProgram(r + "--replay " + (root / "half.kdr").string() + " --verify", nullptr, &err), 4);
    EXPECT_NE(err.find("half.kdr"), std::string::npos) << err;
    EXPECT_EQ(
        RunProgram(r + "--replay " + (root / "none.kdr").string() + " --verify", nullptr, &err), 4);
    fs::remove_all(root);
}
// A game on a stage the editor added in an earlier run plays back where the level file lacks
// that stage: the records it read came with its replay. And a FILE.part that a killed --record
// left is deleted by the next run given that FILE as it starts, even when it is killed too.
TEST(ReplayProgram, AGameOnAnEditorStagePlaysWhereThatStageIsMissing) {
    const fs::path root = TempDir("editor"), stock = fs::path(KORDAVEL_ROOT) / "data/lswap.dat";
    fs::copy(fs::path(KORDAVEL_ROOT) / "data", root / "data");
    const std::string r = "--root " + root.string() + " ", file = (root / "game.kdr").string();
    std::ofstream(root / "edit.txt") << "10 menu MLevelEditor\n20 key 39 down\n21 key 13 down\n"
                                        "30 key 27 down\n";
    ASSERT_EQ(RunProgram(r + "--headless --ticks 40 --script " + (root / "edit.txt").string()), 0);
    const auto stage = fs::file_size(root / "data/lswap.dat") / replay::kLevelRecordBytes - 1;
    ASSERT_EQ(stage * replay::kLevelRecordBytes, fs::file_size(stock));  // the stock file's end
    std::ofstream(root / "play.txt")
        << "5 select " << stage << " 0\n30 key 32 down\n80 key 38 down\n";
    ASSERT_EQ(RunProgram(r + "--headless --ticks 400 --script " + (root / "play.txt").string() +
                         " --record " + file),
              0);
    std::string edited, played, err;
    ASSERT_EQ(RunProgram(r + "--replay " + file + " --verify", &edited), 0);
    fs::copy_file(stock, root / "data/lswap.dat", fs::copy_options::overwrite_existing);
    EXPECT_EQ(RunProgram(r + "--replay " + file + " --verify", &played, &err), 0) << err;
    EXPECT_EQ(played, edited);

    std::ofstream(file + ".part") << "half a replay";
    RunProgram(r + "--headless --ticks 300000000 --record " + file + " & sleep 1; kill -9 $!");
    EXPECT_FALSE(fs::exists(file + ".part"));
    fs::remove_all(root);
}

// The player's game sent back to the title from the demo (a network game took the picture
// meanwhile) gets back the mode the demo kept: Start, Start then plays stage 1. The step plays
// back the same way, and replays made before, whose step only entered the title, still verify.
TEST(ReplayProgram, BackToTheTitleFromTheDemoPlaysTheNextGame) {
    const fs::path root = TempDir("title");
    fs::copy(fs::path(KORDAVEL_ROOT) / "data", root / "data");
    const std::string r = "--root " + root.string() + " ";
    for (const std::string step : {"BackToTitle", "EnterTitle"}) {
        SCOPED_TRACE(step);
        std::ofstream(root / "s.txt") << "10 menu MDemo\n60 menu " << step
                                      << "\n200 key 32 down\n202 key 32 up\n210 key 32 down\n"
                                         "212 key 32 up\n300 dump "
                                      << (root / "end.json").string() << "\n";
        const std::string file = (root / (step + ".kdr")).string();
        ASSERT_EQ(RunProgram(r + "--headless --ticks 300 --script " + (root / "s.txt").string() +
                             " --record " + file),
                  0);
        const std::string end = ReadAll(root / "end.json");
        if (step == "BackToTitle") {
            EXPECT_NE(end.find("\"GameState\": 0,"), std::string::npos) << end;
            EXPECT_NE(end.find("\"GameMode\": 1,"), std::string::npos) << end;
        }
        std::string out, err;
        EXPECT_EQ(RunProgram(r + "--replay " + file + " --verify", &out, &err), 0) << err;
        EXPECT_EQ(out.rfind("ticks=300 ", 0), 0u) << out;
    }
    fs::remove_all(root);
}

// A kept game's start state is checked against what the game can be in: a crafted file that
// puts a tank off the screen, or counts past the game's own, is refused by the program, which
// names what is wrong, where an honest one plays.
TEST(ReplayProgram, ACraftedStartStateIsRefusedNamingWhatIsWrong) {
    const fs::path root = TempDir("crafted");
    testkit::WriteStandardData(root.string(), 4);
    Recording rec(recording::Keep::Games);
    rec.Run("1 menu MStart1Player\n5 key 32 down\n7 key 32 up\n40 key 37 down\n", 1, 300);
    const auto game = rec.recorded.GameInProgress();
    ASSERT_TRUE(game && game->header.from);
    const std::string file = (root / "game.kdr").string();
    auto verify = [&](const replay::Replay& r, std::string& err) {
        std::string error;
        EXPECT_TRUE(replay::SaveReplay(file, r, error)) << error;
        return RunProgram("--headless --root " + root.string() + " --replay " + file + " --verify",
                          nullptr, &err);
    };
    std::string err;
    ASSERT_EQ(verify(*game, err), runner::kExitOk) << err;
    const std::pair<std::function<void(kdv::Game&)>, std::string> crafted[] = {
        {[](kdv::Game& g) { g.Player(1).x = 4000; },
         "a player's tank is off the screen, at (4000, "},
        {[](kdv::Game& g) { g.Enemy(3).armour = 9; },
         "a computer tank's armour is 9, where the game goes up to 4"},
        {[](kdv::Game& g) { g.Enemy(1).bullet.y = 30000; }, "a bullet is off the screen"},
        {[](kdv::Game& g) { g.Bonus.kind = 6; }, "the bonus's kind is 6"},
    };
    for (const auto& [craft, refusal] : crafted) {
        SCOPED_TRACE(refusal);
        auto g = kdv::MakeGame({});
        std::string why;
        ASSERT_TRUE(replay::LoadGameState(game->header.from->game, *g, why)) << why;
        craft(*g);
        replay::Replay r = *game;
        r.header.from->game = replay::SaveGameState(*g);
        EXPECT_EQ(verify(r, err), runner::kExitReplay);
        EXPECT_NE(err.find("the start state is damaged: " + refusal), std::string::npos) << err;
    }
    fs::remove_all(root);
}

#endif
