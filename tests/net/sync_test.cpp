// Rollback checked in one process, without sockets: a scripted duel on the shipped data runs
// straight through, then again as a machine runs it whose partner's inputs come late, rolling
// back and running the guessed ticks again. The confirmed game must match the straight run
// tick for tick, the game ahead must match it whenever it ran on right guesses, and both must
// end where the program itself ends the same duel played over the network. A joiner started
// again part-way, from the host's confirmed state, must go on as the straight run does.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "adapters/disk_files.h"
#include "adapters/virtual_devices.h"
#include "app/runner/command_line.h"
#include "app/runner/net_play.h"
#include "app/runner/script.h"
#include "core/flow/game_state.h"
#include "core/game.h"
#include "net/game_pair.h"
#include "net/input_queue.h"
#include "net/rollback.h"
#include "replay/playback.h"
#include "replay/recorder.h"
#include "replay/state_hash.h"
#include "testkit/testkit.h"

#if defined(KORDAVEL_ROOT) && defined(KORDAVEL_BINARY)
namespace {

namespace fs = std::filesystem;

constexpr int64_t kTicks = 4000;  // the first stage is over by then
constexpr int64_t kLate = 8;      // ticks the partner's inputs take to arrive: the least window

// A player of the duel on its default keys: Start, then arrows held for a while and shots.
std::string PlayerScript(uint32_t seed, const kdv::Settings& settings) {
    const auto key = [&](kdv::Action a) { return settings.keys1[size_t(a)]; };
    std::multimap<int64_t, std::string> lines;
    auto press = [&](int64_t tick, int code, int64_t held) {
        lines.emplace(tick, "key " + std::to_string(code) + " down");
        lines.emplace(tick + held, "key " + std::to_string(code) + " up");
    };
    press(10, key(kdv::Start), 3);
    uint32_t s = seed;
    for (int64_t t = 20; t < kTicks;) {
        s = s * 1103515245u + 12345u;
        const uint32_t r = s >> 16;
        const int64_t held = 3 + r % 60;
        if (r % 5) press(t, key(kdv::Action(kdv::MoveUp + r % 4)), held);
        if (r % 3) press(t + int64_t(r % 7), key(kdv::Fire), 2);
        t += held + 1;
    }
    std::ostringstream out;
    for (const auto& [tick, line] : lines) out << tick << " " << line << "\n";
    return out.str();
}

// One machine's player, tick by tick, as the session reads it: the script's keys of the tick
// set just before the tick's input is sampled, through the player's bindings. The first
// ticks are empty on both machines.
std::vector<uint16_t> PlayerMasks(const std::string& scriptPath, const kdv::Settings& settings) {
    const runner::Script script = runner::LoadScript(scriptPath);
    std::multimap<long, const runner::Command*> byTick;
    for (const runner::Command& c : script.commands) byTick.emplace(c.tick, &c);
    adapters::VirtualInput input;
    std::vector<uint16_t> masks(size_t(kTicks + 1), 0);
    for (int64_t tick = net::kMinDelay + 1; tick <= kTicks; ++tick) {
        auto [from, to] = byTick.equal_range(long(tick));
        for (auto it = from; it != to; ++it) input.SetKey(it->second->code, it->second->on);
        input.Update();
        masks[size_t(tick)] = uint16_t(replay::BindingMask(settings, input) & net::kPlayerMask);
    }
    return masks;
}

struct Duel {
    fs::path root;
    adapters::DiskFiles* disk = nullptr;
    net::GameSetup setup;
    std::vector<uint16_t> host, joiner;
};

// Both games of a machine started on the duel the host offers.
std::unique_ptr<net::GamePair> Started(const Duel& duel) {
    auto games = std::make_unique<net::GamePair>();
    auto error = games->Start(duel.setup);
    EXPECT_FALSE(error) << *error;
    return games;
}

struct LateRun {
    // The first tick after which the confirmed game, or the game ahead on right guesses, was
    // not in the straight run's state (0: none).
    int64_t confirmedApart = 0, aheadApart = 0;
    long aheadChecked = 0;  // ticks where the game ahead ran on right guesses only
    long rollbacks = 0, ticksRunAgain = 0;
    uint64_t end = 0, aheadEnd = 0;  // the state hashes after the last tick
};

// The duel as one machine plays it when the other's inputs arrive kLate ticks after their tick
// ran ahead here. always: roll back on every guess, right or wrong (else on wrong ones only).
// straight: the straight run's checksums, which the game ahead must show on right guesses.
LateRun PlayLate(const Duel& duel, bool hosting, bool always,
                 const std::vector<uint64_t>& straight) {
    auto games = Started(duel);
    net::InputQueue queue(net::kMinDelay);
    net::Rollback rollback(*games, queue, hosting);
    rollback.LimitTo(kTicks);
    const auto& mine = hosting ? duel.host : duel.joiner;
    const auto& theirs = hosting ? duel.joiner : duel.host;
    for (int64_t tick = net::kMinDelay + 1; tick <= kTicks; ++tick)
        queue.AddLocal(mine[size_t(tick)]);
    LateRun run;
    auto confirmed = [&](int64_t tick) {
        if (!run.confirmedApart && games->Checksum(tick, false) != straight[size_t(tick)])
            run.confirmedApart = tick;
        return true;
    };
    // What the game ahead ran each unconfirmed tick on: a player holds what they held last.
    std::vector<uint16_t> ranOn(size_t(kTicks + 1), 0);
    for (int64_t tick = 1; tick <= kTicks; ++tick) {
        ranOn[size_t(tick)] = theirs[size_t(queue.RemoteKnown())];
        rollback.Advance();
        const int64_t arrived = std::max<int64_t>(tick - kLate, net::kMinDelay);
        if (arrived > queue.RemoteKnown()) {
            net::Inputs in;
            in.ack = queue.LastLocal();
            in.first = queue.RemoteKnown() + 1;
            for (int64_t t = in.first; t <= arrived; ++t) in.masks.push_back(theirs[size_t(t)]);
            queue.Receive(in, rollback.Confirmed() + 1);
        }
        const long before = rollback.Rollbacks();
        rollback.Confirm(always, confirmed);
        const int64_t last = rollback.Confirmed();
        bool right = true;
        for (int64_t t = last + 1; t <= tick; ++t) {
            if (rollback.Rollbacks() > before) ranOn[size_t(t)] = theirs[size_t(last)];
            right = right && ranOn[size_t(t)] == theirs[size_t(t)];
        }
        if (right && tick > last) {
            ++run.aheadChecked;
            if (!run.aheadApart && games->Checksum(tick, true) != straight[size_t(tick)])
                run.aheadApart = tick;
        }
    }
    // The rest arrives, and the game ahead is taken back to the confirmed end.
    net::Inputs rest;
    rest.first = queue.RemoteKnown() + 1;
    for (int64_t t = rest.first; t <= kTicks; ++t) rest.masks.push_back(theirs[size_t(t)]);
    queue.Receive(rest, rollback.Confirmed() + 1);
    rollback.Confirm(always, confirmed);
    EXPECT_EQ(rollback.Confirmed(), kTicks);
    EXPECT_EQ(rollback.Ahead(), kTicks);
    run.rollbacks = rollback.Rollbacks();
    run.ticksRunAgain = rollback.TicksRunAgain();
    run.end = replay::StateHash(*games->Confirmed(), long(kTicks));
    run.aheadEnd = replay::StateHash(*games->Shown(), long(kTicks));
    return run;
}

// The last "ticks=N hash=H" line the program printed.
std::string FinalLine(const fs::path& output) {
    std::istringstream in(testkit::ReadAll(output));
    std::string line, last;
    while (std::getline(in, line))
        if (line.rfind("ticks=", 0) == 0) last = line;
    return last;
}

// The duel on the shipped data, copied into a folder of its own: each machine's options as the
// program takes them from its command line and files, their scripts and inputs, and the
// straight run's checksum after every tick.
struct Prepared {
    Duel duel;
    std::unique_ptr<adapters::DiskFiles> disk;
    std::string address;
    fs::path hostScript, joinScript;
    std::vector<uint64_t> straight;
    uint64_t end = 0;
    bool tallied = false;  // the stage was played through to its tally
};

std::unique_ptr<Prepared> Prepare(const std::string& name) {
    auto p = std::make_unique<Prepared>();
    Duel& duel = p->duel;
    duel.root = fs::temp_directory_path() / ("kordavel-" + name + "-" + std::to_string(::getpid()));
    fs::remove_all(duel.root);
    fs::create_directories(duel.root);
    fs::copy(fs::path(KORDAVEL_ROOT) / "data", duel.root / "data", fs::copy_options::recursive);
    p->disk = std::make_unique<adapters::DiskFiles>(duel.root);
    adapters::DiskFiles& disk = *p->disk;

    const uint16_t port = uint16_t(41000 + ::getpid() % 900);
    const std::string address = p->address = "127.0.0.1:" + std::to_string(port);
    runner::CommandLine hostLine, joinLine;
    hostLine.host = address;
    hostLine.netMode = kdv::gmDuel;
    hostLine.ticks = kTicks;
    joinLine.join = address;
    net::Options hostOptions, joinOptions;
    std::string error;
    EXPECT_TRUE(runner::NetOptions(hostLine, disk, hostOptions, error)) << error;
    EXPECT_TRUE(runner::NetOptions(joinLine, disk, joinOptions, error)) << error;

    const fs::path hostScript = p->hostScript = duel.root / "host.txt";
    const fs::path joinScript = p->joinScript = duel.root / "join.txt";
    std::ofstream(hostScript) << PlayerScript(11, hostOptions.settings);
    std::ofstream(joinScript) << PlayerScript(12, joinOptions.settings);
    duel.host = PlayerMasks(hostScript, hostOptions.settings);
    duel.joiner = PlayerMasks(joinScript, joinOptions.settings);

    duel.setup.disk = &disk;
    duel.setup.settings = kdv::FormatSettings(hostOptions.settings);
    duel.setup.levels = net::LevelRecords(disk);
    duel.setup.mode = hostOptions.mode;
    duel.setup.stage = hostOptions.stage;
    duel.setup.hash = [](const kdv::Game& game, long tick) {
        return replay::QuickStateHash(game, tick);
    };

    // Straight through: every tick once, on both inputs.
    auto straightGames = Started(duel);
    p->straight.assign(size_t(kTicks + 1), 0);
    bool played = false;
    for (int64_t tick = 1; tick <= kTicks; ++tick) {
        straightGames->Save(tick, {duel.host[size_t(tick)], duel.joiner[size_t(tick)]});
        p->straight[size_t(tick)] = straightGames->Checksum(tick, false);
        const uint8_t state = straightGames->Confirmed()->GameState;
        played = played || state == kdv::gsPlay;
        p->tallied = p->tallied || (played && state == kdv::gsTallyTwoPlayers);
    }
    p->end = replay::StateHash(*straightGames->Confirmed(), long(kTicks));
    return p;
}

TEST(NetSync, RollingBackEveryTickPlaysTheDuelTheProgramPlays) {
    const auto prepared = Prepare("sync");
    const Duel& duel = prepared->duel;
    const std::vector<uint64_t>& straight = prepared->straight;
    const uint64_t end = prepared->end;
    const std::string& address = prepared->address;
    const fs::path &hostScript = prepared->hostScript, &joinScript = prepared->joinScript;
    EXPECT_TRUE(prepared->tallied);

    // The host rolls back on every guess; the joiner only on wrong ones.
    const LateRun everyTick = PlayLate(duel, true, true, straight);
    const LateRun onWrong = PlayLate(duel, false, false, straight);
    for (const LateRun* run : {&everyTick, &onWrong}) {
        SCOPED_TRACE(run == &everyTick ? "the host, rolling back every tick"
                                       : "the joiner, rolling back on wrong guesses");
        EXPECT_EQ(run->confirmedApart, 0);
        EXPECT_EQ(run->aheadApart, 0);
        EXPECT_EQ(run->end, end);
        EXPECT_EQ(run->aheadEnd, end);
        // Most guesses are right (players hold their keys), and some are wrong.
        EXPECT_GT(run->aheadChecked, kTicks / 2);
        EXPECT_LT(run->aheadChecked, kTicks - kLate);
    }
    // Every tick once the partner's inputs run late, and each time the whole way back.
    EXPECT_GE(everyTick.rollbacks, kTicks - kLate - net::kMinDelay);
    EXPECT_GE(everyTick.ticksRunAgain, (kTicks - 2 * kLate) * kLate);
    EXPECT_GT(onWrong.rollbacks, 0);
    EXPECT_LT(onWrong.rollbacks, everyTick.rollbacks / 4);

    // The program itself, host and joiner on this machine, ends the duel on the same hash.
    const std::string program = KORDAVEL_BINARY, root = duel.root.string();
    const std::string command = "(" + program + " --headless --root " + root + " --host " +
                                address + " --mode duel --ticks " + std::to_string(kTicks) +
                                " --script " + hostScript.string() + " >" + root +
                                "/host.out 2>&1 & sleep 0.3; " + program + " --headless --root " +
                                root + " --join " + address + " --script " + joinScript.string() +
                                " >" + root + "/join.out 2>&1; wait)";
    ASSERT_EQ(WEXITSTATUS(std::system(command.c_str())), 0);
    char want[64];
    std::snprintf(want, sizeof want, "ticks=%lld hash=%016llx", static_cast<long long>(kTicks),
                  static_cast<unsigned long long>(end));
    EXPECT_EQ(FinalLine(duel.root / "host.out"), want) << testkit::ReadAll(duel.root / "host.out");
    EXPECT_EQ(FinalLine(duel.root / "join.out"), want) << testkit::ReadAll(duel.root / "join.out");
    fs::remove_all(duel.root);
}

// Both players' inputs up to upTo that q does not hold yet, as the other machine sends them.
void Deliver(net::InputQueue& q, const std::vector<uint16_t>& masks, int64_t upTo, int64_t next) {
    net::Inputs in;
    in.ack = q.LastLocal();
    in.first = q.RemoteKnown() + 1;
    for (int64_t t = in.first; t <= upTo; ++t) in.masks.push_back(masks[size_t(t)]);
    if (!in.masks.empty()) q.Receive(in, next);
}

// A joiner whose program was started again takes up the host's confirmed game part-way, with
// the inputs the host holds past it, as the host sends them: in the stage's opening, in play and
// near the tally, it must go on tick for tick as the straight run, and its replay, which begins
// there, must play to the same end.
TEST(NetSync, AJoinerStartedAgainGoesOnFromTheHostsStateAsTheStraightRunDoes) {
    const auto prepared = Prepare("resume");
    const Duel& duel = prepared->duel;
    for (const int64_t at : {int64_t(40), int64_t(1500), kTicks - 300}) {
        SCOPED_TRACE("taken up after tick " + std::to_string(at));
        // The host runs to the tick holding the joiner's inputs a few ticks further on, as
        // from a joiner that ran ahead before it dropped out.
        auto host = Started(duel);
        net::InputQueue hostQueue(net::kMinDelay);
        net::Rollback hostRollback(*host, hostQueue, true);
        for (int64_t tick = 1; tick <= at; ++tick) {
            while (hostQueue.LastLocal() < tick + net::kMinDelay)
                hostQueue.AddLocal(duel.host[size_t(hostQueue.LastLocal() + 1)]);
            Deliver(hostQueue, duel.joiner, tick + 3, hostRollback.Confirmed() + 1);
            hostRollback.Advance();
            hostRollback.Confirm(false, [](int64_t) { return true; });
        }
        ASSERT_EQ(hostRollback.Confirmed(), at);
        const auto hostAfter = hostQueue.LocalAfter(at), joinerAfter = hostQueue.RemoteAfter(at);
        EXPECT_EQ(joinerAfter.size(), 3u);

        auto joiner = std::make_unique<net::GamePair>();
        const auto error = joiner->Resume(duel.setup, at, host->Standing());
        ASSERT_FALSE(error) << *error;
        net::InputQueue queue(net::kMinDelay);
        queue.Resume(at, joinerAfter, hostAfter,
                     uint16_t(host->ConfirmedMask() & net::kPlayerMask));
        net::Rollback rollback(*joiner, queue, false, at + 1);
        rollback.LimitTo(kTicks);
        int64_t apart = 0;
        for (int64_t tick = at + 1; tick <= kTicks; ++tick) {
            while (queue.LastLocal() < std::min(tick + net::kMinDelay, kTicks))
                queue.AddLocal(duel.joiner[size_t(queue.LastLocal() + 1)]);
            Deliver(queue, duel.host, tick, rollback.Confirmed() + 1);
            rollback.Advance();
            rollback.Confirm(false, [&](int64_t t) {
                if (!apart && joiner->Checksum(t, false) != prepared->straight[size_t(t)])
                    apart = t;
                return true;
            });
        }
        EXPECT_EQ(rollback.Confirmed(), kTicks);
        EXPECT_EQ(apart, 0);

        auto recorded = joiner->Recording();
        ASSERT_TRUE(recorded);
        auto decoded = replay::Decode(replay::Encode(*recorded));
        ASSERT_TRUE(decoded.replay) << decoded.error;
        ASSERT_TRUE(decoded.replay->header.from);
        EXPECT_EQ(decoded.replay->header.from->tick, at);
        adapters::VirtualWindow window;
        kdv::Services outer;
        outer.window = &window;
        replay::Playback playback(std::move(*decoded.replay), *prepared->disk, outer);
        ASSERT_TRUE(playback.Start());
        while (playback.Step()) {
        }
        playback.Finish();
        EXPECT_FALSE(playback.PartedAt()) << playback.PartedMessage();
        EXPECT_EQ(playback.TicksRun(), kTicks - at);
        EXPECT_EQ(replay::StateHash(playback.Game(), long(kTicks)), prepared->end);
    }
    fs::remove_all(duel.root);
}

}  // namespace
#endif
