// Two sessions in one process on 127.0.0.1, on the game's own data: the states agree until one
// game is changed behind the other's back, and then both stop and keep their replays.
#include <gtest/gtest.h>

#include <unistd.h>

#include "adapters/disk_files.h"
#include "adapters/virtual_devices.h"
#include "app/runner/state_json.h"
#include "core/game.h"
#include "net/session.h"
#include "replay/playback.h"

#ifdef KORDAVEL_ROOT
namespace {

struct Side {
    adapters::DiskFiles files{KORDAVEL_ROOT};
    adapters::VirtualInput input;
    std::unique_ptr<net::Session> session;

    Side(bool hosting, uint16_t port, int64_t ticks) {
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

}  // namespace
#endif
