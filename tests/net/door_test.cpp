// A waiting host gives its seat to the first valid Hello, not to the first connection: fifty
// strangers on 127.0.0.1 keep knocking while a real joiner comes, on the game's own data.
#include <enet/enet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "adapters/disk_files.h"
#include "adapters/virtual_devices.h"
#include "app/runner/state_json.h"
#include "net/session.h"
#include "replay/format.h"

#ifdef KORDAVEL_ROOT
namespace {

struct Player {
    adapters::DiskFiles files{KORDAVEL_ROOT};
    adapters::VirtualInput input;
    std::unique_ptr<net::Session> session;

    // ticks: the host's length of game (0: until a player leaves); paced: at the window's pace.
    Player(bool hosting, uint16_t port, int64_t ticks = 300, bool paced = false) {
        net::Options o;
        o.hosting = hosting;
        o.address = {"127.0.0.1", port};
        o.mode = 3;
        o.ticks = hosting ? ticks : 0;
        o.identity = net::IdentityOf(files, replay::BuildIdentity());
        o.inviteCode = hosting ? net::NewInviteCode() : "";
        o.disk = &files;
        o.input = &input;
        o.hash = [](const kdv::Game& game, long tick) { return runner::StateHash(game, tick); };
        o.paced = paced;
        session = std::make_unique<net::Session>(std::move(o));
    }
};

// Fifty machines speaking ENet: the even ones connect and say nothing, the odd ones answer the
// host's challenge with a Hello captured from another connection (the host's own build and
// files, a proof for someone else's challenge) and then nothing. Each connects again within
// milliseconds whenever it is closed.
class Strangers {
  public:
    Strangers(uint16_t port, const net::Identity& identity) {
        net::Nonce elsewhere{};
        elsewhere[0] = 1;
        net::Hello hello;
        hello.identity = identity;
        hello.proof = net::ProveCode(elsewhere, "");
        hello_ = net::Encode(hello);
        thread_ = std::thread([this, port] { Run(port); });
    }
    ~Strangers() {
        stop_ = true;
        thread_.join();
    }
    std::atomic<long> connects{0}, replayed{0};

  private:
    void Run(uint16_t port) {
        constexpr size_t kCount = 50;
        ENetHost* me = enet_host_create(nullptr, kCount, 2, 0, 0);
        ASSERT_NE(me, nullptr);
        me->checksum = enet_crc32;
        ENetAddress to{};
        enet_address_set_host(&to, "127.0.0.1");
        to.port = port;
        auto connect = [&](size_t who) {
            ENetPeer* peer = enet_host_connect(me, &to, 2, 0);
            if (peer) peer->data = reinterpret_cast<void*>(who);
            ++connects;
        };
        for (size_t who = 0; who < kCount; ++who) connect(who);
        while (!stop_) {
            ENetEvent e;
            while (enet_host_service(me, &e, 2) > 0) {
                const size_t who = reinterpret_cast<size_t>(e.peer->data);
                if (e.type == ENET_EVENT_TYPE_RECEIVE) {
                    enet_packet_destroy(e.packet);
                    if (who % 2 == 1 && e.channelID == 1) {
                        enet_peer_send(e.peer, 1,
                                       enet_packet_create(hello_.data(), hello_.size(),
                                                          ENET_PACKET_FLAG_RELIABLE));
                        ++replayed;
                    }
                } else if (e.type == ENET_EVENT_TYPE_DISCONNECT) {
                    connect(who);
                }
            }
        }
        enet_host_destroy(me);
    }

    std::vector<uint8_t> hello_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(NetDoor, ARealJoinerGetsInAtOnceWhileFiftyStrangersKnock) {
    const uint16_t port = uint16_t(41000 + getpid() % 900);
    Player host(true, port);
    std::string error;
    ASSERT_TRUE(host.session->Open(error)) << error;
    Strangers strangers(port, net::IdentityOf(host.files, replay::BuildIdentity()));
    // The strangers fill the host's table and some are turned away as silent, so that they
    // knock again while the joiner comes.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(2500);
    while (std::chrono::steady_clock::now() < until) host.session->Poll(1);
    ASSERT_GE(strangers.replayed, 25);

    Player joiner(false, port);
    ASSERT_TRUE(joiner.session->Open(error)) << error;
    const auto joined = std::chrono::steady_clock::now();
    for (int i = 0; i < 20000; ++i) {
        host.session->Poll(0);
        joiner.session->Poll(1);
        if (host.session->CurrentPhase() == net::Phase::Ended &&
            joiner.session->CurrentPhase() == net::Phase::Ended)
            break;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - joined).count();
    for (Player* p : {&host, &joiner})
        EXPECT_EQ(p->session->Reason(), net::EndReason::Over) << p->session->Ending();
    const net::Stats h = host.session->GetStats(), j = joiner.session->GetStats();
    EXPECT_EQ(j.retries, 0);  // in at its first attempt, never told the host was busy
    EXPECT_LT(seconds, 5.0);
    EXPECT_EQ(h.ticks, 300);
    EXPECT_EQ(j.ticks, 300);
    ASSERT_NE(host.session->Game(), nullptr);
    ASSERT_NE(joiner.session->Game(), nullptr);
    EXPECT_EQ(runner::StateHash(*host.session->Game(), 300),
              runner::StateHash(*joiner.session->Game(), 300));
    // Every stranger was turned away at least once, and the replayed Hellos were no player.
    EXPECT_GE(h.turnedAway, 50);
    EXPECT_GE(h.strangers, 25);
    EXPECT_EQ(h.wrongCodes, 0);  // from this machine no code is needed, so none was wrong
    EXPECT_GE(strangers.connects, 75);
}

// A third machine that asks to join a game under way is turned away as busy: it knocks again
// for as long as a seat could take to come free, then gives up and says why; the players play on.
TEST(NetDoor, AThirdMachineKnocksAgainOnAHostThatIsPlayingThenGivesUp) {
    using namespace std::chrono;
    const uint16_t port = uint16_t(41000 + getpid() % 900);
    Player host(true, port, 0, true), joiner(false, port, 0, true);
    std::string error;
    ASSERT_TRUE(host.session->Open(error)) << error;
    ASSERT_TRUE(joiner.session->Open(error)) << error;
    for (int i = 0; i < 20000 && host.session->CurrentPhase() != net::Phase::Playing; ++i) {
        host.session->Poll(0);
        joiner.session->Poll(1);
    }
    ASSERT_EQ(host.session->CurrentPhase(), net::Phase::Playing);

    Player third(false, port);
    ASSERT_TRUE(third.session->Open(error)) << error;
    const auto knocked = steady_clock::now();
    bool sawRetrying = false;
    while (third.session->CurrentPhase() != net::Phase::Ended &&
           steady_clock::now() - knocked < seconds(20)) {
        host.session->Poll(0);
        joiner.session->Poll(0);
        third.session->Poll(1);
        sawRetrying = sawRetrying || third.session->Retrying();
    }
    const auto waited = steady_clock::now() - knocked;
    EXPECT_EQ(third.session->Reason(), net::EndReason::Busy) << third.session->Ending();
    EXPECT_TRUE(sawRetrying);
    EXPECT_GE(waited, milliseconds(net::kBusyRetryMs));
    EXPECT_LT(waited, milliseconds(net::kBusyRetryMs + 4000));
    // A quarter second between knocks, each turned away at once.
    EXPECT_GE(third.session->GetStats().retries, long(net::kBusyRetryMs / 250 / 2));
    EXPECT_EQ(host.session->CurrentPhase(), net::Phase::Playing);
    EXPECT_EQ(joiner.session->CurrentPhase(), net::Phase::Playing);
}

}  // namespace
#endif
