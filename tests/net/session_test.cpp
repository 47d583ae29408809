// Two sessions in one process on 127.0.0.1, on the game's own data: the states agree until one
// game is changed behind the other's back, and then both stop and keep their replays; and a
// game that runs ahead on guesses, right or wrong, ends, looks and sounds as lockstep does.
#include <gtest/gtest.h>

#include <unistd.h>

#include "adapters/disk_files.h"
#include "adapters/virtual_devices.h"
#include "app/runner/state_json.h"
#include "core/game.h"
#include "net/session.h"
#include "replay/playback.h"
#include "replay/recorder.h"

#ifdef KORDAVEL_ROOT
namespace {

struct Side {
    adapters::DiskFiles files{KORDAVEL_ROOT};
    adapters::VirtualInput input;
    adapters::SilentSound sound;
    adapters::VirtualDisplay display;
    std::unique_ptr<net::Session> session;

    Side(bool hosting, uint16_t port, int64_t ticks,
         const std::function<void(net::Options&, Side&)>& tune = {}) {
        net::Options o;
        o.hosting = hosting;
        o.address = {"127.0.0.1", port};
        o.mode = 3;
        o.ticks = ticks;
        o.identity = net::IdentityOf(files, replay::BuildIdentity());
        o.disk = &files;
        o.input = &input;
        o.hash = [](const kdv::Game& game, long tick) { return runner::StateHash(game, tick); };
        o.paced = false;
        // Player 1's fire held on both machines from tick 50: both tanks shoot.
        o.beforeInput = [this](int64_t tick) { input.SetKey(17, tick >= 50); };
        if (tune) tune(o, *this);
        session = std::make_unique<net::Session>(std::move(o));
    }
};

// Polls both until both have ended, or for at most 20 s.
void PlayOut(Side& host, Side& joiner, const std::function<void()>& each = {}) {
    for (int i = 0; i < 20000; ++i) {
        host.session->Poll(0);
        joiner.session->Poll(1);
        if (each) each();
        if (host.session->CurrentPhase() == net::Phase::Ended &&
            joiner.session->CurrentPhase() == net::Phase::Ended)
            return;
    }
}

uint16_t TestPort() {
    return uint16_t(40000 + getpid() % 900);
}

TEST(NetSession, AGameThatGoesApartStopsOnBothMachinesWithItsReplays) {
    const uint16_t port = TestPort();
    Side host(true, port, 3000), joiner(false, port, 0);
    std::string error;
    ASSERT_TRUE(host.session->Open(error)) << error;
    ASSERT_TRUE(joiner.session->Open(error)) << error;
    bool nudged = false;
    PlayOut(host, joiner, [&] {
        kdv::Game* game = joiner.session->Game();
        if (!nudged && game && joiner.session->TicksRun() >= 100) {
            game->RandSeed ^= 1;  // what a fault in one machine's game would do
            nudged = true;
        }
    });
    ASSERT_TRUE(nudged);
    for (Side* side : {&host, &joiner}) {
        EXPECT_EQ(side->session->CurrentPhase(), net::Phase::Ended);
        EXPECT_TRUE(side->session->Failed());
        EXPECT_EQ(side->session->Reason(), net::EndReason::Apart) << side->session->EndMessage();
        // Caught at the first comparison after the change, far from the game's end.
        EXPECT_LE(side->session->TicksRun(), 120 + net::kMaxDelay);
        EXPECT_NE(side->session->EndMessage().find("tick 120"), std::string::npos)
            << side->session->EndMessage();
        EXPECT_TRUE(side->session->Recording());
    }
}

TEST(NetSession, BothReplaysPlayTheGameBothMachinesPlayed) {
    const uint16_t port = uint16_t(TestPort() + 1);
    Side host(true, port, 2000), joiner(false, port, 0);
    std::string error;
    ASSERT_TRUE(host.session->Open(error)) << error;
    ASSERT_TRUE(joiner.session->Open(error)) << error;
    PlayOut(host, joiner);
    const uint64_t end = runner::StateHash(*host.session->Game(), 2000);
    for (Side* side : {&host, &joiner}) {
        ASSERT_FALSE(side->session->Failed()) << side->session->EndMessage();
        EXPECT_EQ(side->session->Reason(), net::EndReason::Over);
        EXPECT_EQ(side->session->TicksRun(), 2000);
        EXPECT_EQ(side->session->GetStats().hashChecks, 2000 / net::kHashPeriod + 1);
        EXPECT_EQ(runner::StateHash(*side->session->Game(), 2000), end);

        auto recording = side->session->Recording();
        ASSERT_TRUE(recording);
        EXPECT_EQ(recording->header.mode, 3);
        // Marked with its side and the other machine: the host as asked for, the joiner as seen.
        const bool joined = side == &joiner;
        EXPECT_EQ(recording->header.side, joined ? replay::Side::Joiner : replay::Side::Host);
        EXPECT_EQ(recording->header.partner == "127.0.0.1:" + std::to_string(port), joined);
        EXPECT_EQ(recording->header.partner.rfind("127.0.0.1:", 0), 0u);
        EXPECT_FALSE(replay::CheckReplay(*recording, side->files));
        adapters::VirtualWindow window;
        kdv::Services outer;
        outer.window = &window;
        replay::Playback playback(*recording, side->files, outer);
        ASSERT_TRUE(playback.Start());
        while (playback.Step()) {
        }
        EXPECT_EQ(playback.TicksRun(), 2000);
        EXPECT_EQ(runner::StateHash(playback.Game(), 2000), end);
    }
}

// The same duel three ways: in lockstep; running ahead with every guess of the other player's
// input wrong; and running ahead with every guess right but corrected all the same. The host
// hears and sees its shown game.
TEST(NetSession, GuessesRightOrWrongChangeNeitherTheGameNorItsSounds) {
    constexpr int64_t kTicks = 1500;
    // Both players start the stage, then drive round and fire, the same on both machines.
    auto keys = [](adapters::VirtualInput& input, int64_t tick) {
        for (int code = 37; code <= 40; ++code) input.SetKey(code, 37 + tick / 40 % 4 == code);
        input.SetKey(17, tick >= 50);
        input.SetKey(32, tick >= 10 && tick < 14);
    };
    auto maskAt = [&](int64_t tick) {
        adapters::VirtualInput input;
        keys(input, tick);
        input.Update();
        return uint16_t(replay::BindingMask(kdv::Settings{}, input) & net::kPlayerMask);
    };
    struct Run {
        uint64_t hash = 0, shownHash = 0;
        net::Stats stats;
        std::vector<int> sounds;
        long presented = 0;
    };
    // Far from the other tests' ports, which neighbouring processes may hold meanwhile.
    uint16_t port = uint16_t(TestPort() + 1000);
    auto play = [&](int window, bool wrong, bool always) {
        auto tune = [&](net::Options& o, Side& side) {
            o.window = window;
            o.correctAlways = always;
            o.beforeInput = [&](int64_t tick) { keys(side.input, tick); };
            o.guess = [&, wrong](int64_t tick, uint16_t) {
                return wrong ? uint16_t(maskAt(tick) ^ 1) : maskAt(tick);
            };
            side.sound.count = 10;
            side.sound.record = true;
            o.sound = &side.sound;
            o.display = &side.display;
        };
        Side host(true, port, kTicks, tune);
        // A joiner that runs a tick a poll leaves the host ahead of its input, guessing.
        Side joiner(false, port, 0, [&](net::Options& o, Side& side) {
            tune(o, side);
            o.ticksPerPoll = 1;
        });
        ++port;
        std::string error;
        EXPECT_TRUE(host.session->Open(error)) << error;
        EXPECT_TRUE(joiner.session->Open(error)) << error;
        PlayOut(host, joiner);
        EXPECT_EQ(host.session->Reason(), net::EndReason::Over) << host.session->EndMessage();
        Run run;
        run.hash = runner::StateHash(*host.session->Game(), kTicks);
        run.shownHash = runner::StateHash(*host.session->Shown(), kTicks);
        run.stats = host.session->GetStats();
        for (const auto& played : host.sound.played) run.sounds.push_back(played.item);
        run.presented = host.display.presented;
        return run;
    };
    const Run lockstep = play(0, false, false);
    const Run wrong = play(8, true, false);
    const Run corrected = play(8, false, true);

    EXPECT_EQ(lockstep.stats.rollbacks, 0);
    EXPECT_GT(lockstep.sounds.size(), 20u);  // both tanks fire from tick 50
    for (const Run* run : {&lockstep, &wrong, &corrected}) EXPECT_EQ(run->hash, lockstep.hash);
    // What the player saw last is the true end, however it was reached.
    for (const Run* run : {&wrong, &corrected}) {
        EXPECT_EQ(run->shownHash, lockstep.hash);
        EXPECT_GT(run->stats.ticksRunAgain, kTicks / 2);
        // A correction shows its last frame only.
        EXPECT_LE(run->presented, lockstep.presented + run->stats.rollbacks);
    }
    // Ticks run again play nothing twice and lose nothing.
    EXPECT_EQ(corrected.sounds, lockstep.sounds);
    // A wrong guess may add a shot that never was, but no true sound is missing.
    std::map<int, int> missing;
    for (int item : lockstep.sounds) ++missing[item];
    for (int item : wrong.sounds) --missing[item];
    for (const auto& [item, count] : missing) EXPECT_LE(count, 0) << "sound " << item;
}

}  // namespace
#endif
