// The host's side of watching, without sockets and on a clock of the test's own: who is let in,
// what each spectator is sent and sent again from its acknowledgement, that nobody waits for a
// slow one, that the log of inputs holds no more than the slowest spectator still lacks, and how
// the end reaches each of them.
#include <gtest/gtest.h>

#include <map>

#include "net/spectators.h"

namespace {

using Clock = net::Spectators::Clock;
using std::chrono::milliseconds;

struct Host {
    net::Identity identity{"0.1.0", {10, 1}, {20, 2}};
    std::map<uint32_t, std::vector<net::Message>> sent;
    std::map<uint32_t, net::CloseCode> closed;
    net::Spectators spectators{
        identity, [this](uint32_t id, const net::Message& m, bool) { sent[id].push_back(m); },
        [this](uint32_t id, net::CloseCode why) { closed[id] = why; }};
    Clock::time_point now = Clock::now();
    int64_t tick = 0;

    net::Hello Watcher() const {
        net::Hello h;
        h.identity = identity;
        h.role = net::Role::Spectator;
        return h;
    }
    void Begin() {
        net::Welcome w;
        w.mode = 2, w.stage = 1, w.delay = 2, w.window = 8, w.levels.resize(176);
        spectators.Begin(w, "hall");
    }
    // The game runs n ticks (each tick's mask is its number) over ms milliseconds, polled once.
    void Run(int n, int ms = 100) {
        for (int i = 0; i < n; ++i) spectators.Append(uint32_t(++tick));
        now += milliseconds(ms);
        spectators.Poll(now, {true, tick, [this](net::Watch& w) {
                                  w.state = {1, 2, 3};
                                  w.mask = uint32_t(tick);
                              }});
    }
    void Ack(uint32_t id, int64_t upTo) {
        spectators.Received(id, net::Encode(net::WatchAck{upTo}), now);
    }
    // The inputs sent to id since the last call, by tick; every mask must be its tick's.
    std::vector<int64_t> Inputs(uint32_t id) {
        std::vector<int64_t> ticks;
        for (const net::Message& m : sent[id])
            if (auto* in = std::get_if<net::WatchInputs>(&m))
                for (size_t i = 0; i < in->masks.size(); ++i) {
                    EXPECT_EQ(in->masks[i], uint32_t(in->first) + i);
                    ticks.push_back(in->first + int64_t(i));
                }
        sent[id].clear();
        return ticks;
    }
};

TEST(Spectators, EightWatchTheNinthIsToldSoAndAnotherBuildHearsWhy) {
    Host h;
    for (uint32_t id = 1; id <= net::kMaxSpectators; ++id)
        EXPECT_TRUE(h.spectators.Take(id, h.Watcher(), h.now));
    EXPECT_FALSE(h.spectators.Take(9, h.Watcher(), h.now));
    EXPECT_EQ(h.closed[9], net::kClosedFull);
    net::Hello other = h.Watcher();
    other.identity.build = "0.2.0";
    EXPECT_FALSE(h.spectators.Take(10, other, h.now));
    EXPECT_EQ(h.closed[10], net::kClosedRefused);
    ASSERT_EQ(h.sent[10].size(), 1u);
    EXPECT_EQ(std::get<net::Refuse>(h.sent[10][0]).what, net::kOtherBuild);
    // One who leaves makes room for the next.
    h.spectators.Received(3, net::Encode(net::Bye{}), h.now);
    EXPECT_EQ(h.closed[3], net::kClosedPlain);
    EXPECT_TRUE(h.spectators.Take(11, h.Watcher(), h.now));
    EXPECT_EQ(h.spectators.Count(), net::kMaxSpectators);
    EXPECT_EQ(h.spectators.full, 1);
    EXPECT_EQ(h.spectators.refused, 1);
}

TEST(Spectators, EachGetsTheStartThenEveryInputAgainFromItsAcknowledgement) {
    Host h;
    h.Begin();
    ASSERT_TRUE(h.spectators.Take(1, h.Watcher(), h.now));
    h.spectators.Poll(h.now, {});  // no game running yet: it waits
    EXPECT_TRUE(h.sent[1].empty());
    h.Run(0);
    ASSERT_FALSE(h.sent[1].empty());
    const auto& start = std::get<net::Watch>(h.sent[1][0]);
    EXPECT_EQ(start.from, 0);
    EXPECT_EQ(start.host, "hall");
    EXPECT_TRUE(start.state.empty());
    h.sent[1].clear();
    h.Run(300);
    std::vector<int64_t> all(300);
    for (int64_t t = 1; t <= 300; ++t) all[size_t(t - 1)] = t;
    EXPECT_EQ(h.Inputs(1), all);
    // Only the first hundred arrived: the rest go again, and only the rest.
    h.Ack(1, 100);
    h.Run(0);
    EXPECT_EQ(h.Inputs(1), std::vector<int64_t>(all.begin() + 100, all.end()));
    // An acknowledgement past what was sent holds no more than was sent.
    h.Ack(1, 5000);
    h.Run(2);
    EXPECT_EQ(h.Inputs(1), (std::vector<int64_t>{301, 302}));
    // A second spectator comes in at tick 302 and gets that tick's state and the inputs after.
    ASSERT_TRUE(h.spectators.Take(2, h.Watcher(), h.now));
    h.Run(0);
    const auto& late = std::get<net::Watch>(h.sent[2].at(0));
    EXPECT_EQ(late.from, 302);
    EXPECT_EQ(late.mask, 302u);
    EXPECT_FALSE(late.state.empty());
    h.sent[2].clear();
    h.Run(3);
    EXPECT_EQ(h.Inputs(2), (std::vector<int64_t>{303, 304, 305}));
    const auto& counted = std::get<net::WatchInputs>(h.sent[1].back());
    EXPECT_EQ(counted.watching, 2);
}

TEST(Spectators, OneThatFallsBehindIsDroppedAndTheLogKeepsOnlyWhatIsOwed) {
    Host h;
    h.Begin();
    ASSERT_TRUE(h.spectators.Take(1, h.Watcher(), h.now));
    ASSERT_TRUE(h.spectators.Take(2, h.Watcher(), h.now));
    h.Run(0);
    // Both keep up for a while; then the second stops answering while the game goes on.
    for (int step = 0; step < 60; ++step) {
        h.Run(8);
        h.Ack(1, h.tick);
        if (step < 5) h.Ack(2, h.tick);
    }
    EXPECT_EQ(h.closed.count(1), 0u);
    EXPECT_EQ(h.closed[2], net::kClosedSlow);
    EXPECT_EQ(h.spectators.dropped, 1);
    EXPECT_EQ(h.spectators.Count(), 1u);
    // The log holds what the one left has not acknowledged, not the game's every tick.
    h.Run(0);
    EXPECT_EQ(h.spectators.Logged(), 0u);
    h.Run(20);
    EXPECT_EQ(h.spectators.Logged(), 20u);
}

TEST(Spectators, TheEndReachesEachOneWhichIsClosedOnceItHoldsTheLastTick) {
    Host h;
    h.Begin();
    ASSERT_TRUE(h.spectators.Take(1, h.Watcher(), h.now));
    ASSERT_TRUE(h.spectators.Take(2, h.Watcher(), h.now));
    h.Run(0);
    h.Run(50);
    h.spectators.End(50, "");
    h.Run(0);
    for (uint32_t id : {1u, 2u}) {
        const auto& bye = std::get<net::Bye>(h.sent[id].back());
        EXPECT_EQ(bye.final, 50);
        EXPECT_EQ(bye.reason, "");
    }
    EXPECT_TRUE(h.closed.empty());  // neither holds the last tick yet
    h.Ack(1, 50);
    h.Run(0);
    EXPECT_EQ(h.closed[1], net::kClosedPlain);
    EXPECT_TRUE(h.spectators.Finishing(h.now));
    // The other never answers: it is let go after a while, and the host stops waiting.
    h.now += milliseconds(net::kSpectatorFinishMs);
    h.Run(0);
    EXPECT_EQ(h.closed[2], net::kClosedPlain);
    EXPECT_FALSE(h.spectators.Finishing(h.now));
}

TEST(Spectators, AGameThatEndsBeforeItBeginsTellsThoseWaiting) {
    Host h;
    ASSERT_TRUE(h.spectators.Take(1, h.Watcher(), h.now));
    h.spectators.End(0, "Nobody joined the game.");
    h.spectators.Poll(h.now, {});
    ASSERT_EQ(h.sent[1].size(), 1u);
    EXPECT_EQ(std::get<net::Bye>(h.sent[1][0]).reason, "Nobody joined the game.");
    EXPECT_EQ(h.closed[1], net::kClosedPlain);
    EXPECT_FALSE(h.spectators.Take(2, h.Watcher(), h.now));  // nothing left to watch
}

}  // namespace
