// The network messages against damage, and the checks that decide whether two machines may
// play together.
#include <gtest/gtest.h>

#include <random>

#include "net/protocol.h"
#include "net/transport.h"

namespace {

net::Welcome W(uint8_t mode, int32_t stage, uint8_t delay, uint8_t window, int64_t ticks,
               std::string settings, std::vector<uint8_t> levels) {
    net::Welcome w;
    w.mode = mode, w.stage = stage, w.delay = delay, w.window = window, w.ticks = ticks;
    w.settings = std::move(settings), w.levels = std::move(levels);
    return w;
}

net::Hello H(uint32_t protocol, const net::Identity& id, net::Proof proof = {}) {
    net::Hello h;
    h.protocol = protocol, h.identity = id, h.proof = proof;
    return h;
}

std::vector<net::Message> Samples() {
    net::Identity id;
    id.build = "0.1.0";
    id.graphics = {1234, 0x1122334455667788ull};
    std::vector<uint8_t> levels(3 * kdv::kLevelRecordBytes, 7);
    net::Proof proof{};
    proof[0] = 0xAB;
    proof[15] = 0xCD;
    net::Nonce nonce{};
    nonce[7] = 9;
    net::Hello rejoin = H(net::kProtocolVersion, id, proof);
    rejoin.name = "Ann";
    rejoin.game[3] = 1;
    rejoin.token[15] = 2;
    rejoin.keeps = true;
    net::Welcome named = W(2, 1, 2, 8, 0, "", levels);
    named.game[0] = 5;
    named.token[1] = 6;
    named.hostName = "Bo";
    net::Hello watcher = H(net::kProtocolVersion, id, proof);
    watcher.role = net::Role::Spectator;
    net::Resume resume{1500, 1508, std::vector<uint8_t>(40000, 3), 4, 1, 0x3FFF, {1, 2}, {3}};
    return {H(net::kProtocolVersion, id, proof),
            rejoin,
            named,
            resume,
            net::Challenge{nonce},
            net::Refuse{net::kOtherGraphics | net::kOtherFont, "0.1.0"},
            net::Ping{7},
            net::Pong{7},
            W(3, 4, 5, 12, 100000, "[Options]\nGameDifficulty=2\n", levels),
            net::Inputs{10, -9, 11, {1, 0x3FFF, 0, 42}},
            net::Hash{60, 0xDEADBEEFCAFEF00Dull},
            net::Bye{770, "bye"},
            net::Stop{812},
            watcher,
            net::Watch{0, 2, 3, 1540, "", levels, "host", 3, 1, 0, {}},
            net::Watch{2000, 3, 1, 0, "[Options]\n", levels, "", 5, 2, 0x0FFFFFFF, {1, 2, 3}},
            net::WatchInputs{2001, 8, {0, 0x0FFFFFFF, 5}},
            net::WatchInputs{2001, 3, {}},
            net::WatchAck{2004}};
}

TEST(NetProtocol, EveryMessageComesBackAsItWasSent) {
    for (const net::Message& m : Samples()) {
        const auto bytes = net::Encode(m);
        const auto back = net::Decode(bytes);
        ASSERT_TRUE(back) << "type " << m.index();
        EXPECT_EQ(net::Encode(*back), bytes) << "type " << m.index();
    }
}

TEST(NetProtocol, DamagedMessagesAreRefusedNeverMisread) {
    for (const net::Message& m : Samples()) {
        const auto bytes = net::Encode(m);
        for (size_t n = 0; n < bytes.size(); ++n)
            EXPECT_FALSE(net::Decode({bytes.data(), n})) << "type " << m.index() << " cut to " << n;
        auto longer = bytes;
        longer.push_back(0);
        EXPECT_FALSE(net::Decode(longer)) << "type " << m.index() << " with a byte more";
    }
    // A player's input has fourteen bits; a delay outside 2..6 is no delay; stage 0 no stage;
    // a window past 32 ticks is none;
    // levels come as whole records, at least one; a refusal names what differs.
    const std::vector<uint8_t> one(kdv::kLevelRecordBytes);
    EXPECT_FALSE(net::Decode(net::Encode(net::Inputs{0, 0, 1, {0x4000}})));
    EXPECT_FALSE(net::Decode(net::Encode(W(2, 1, 7, 0, 0, "", one))));
    EXPECT_FALSE(net::Decode(net::Encode(W(2, 0, 3, 0, 0, "", one))));
    EXPECT_FALSE(net::Decode(net::Encode(W(2, 1, 2, net::kMaxWindow + 1, 0, "", one))));
    EXPECT_FALSE(net::Decode(net::Encode(W(2, 1, 3, 0, 0, "", {}))));
    EXPECT_FALSE(
        net::Decode(net::Encode(W(2, 1, 3, 0, 0, "", std::vector<uint8_t>(one.size() + 1)))));
    // A spectator's start from the middle carries the state, one from the first tick none; both
    // players' inputs are 28 bits; a Hello comes to play or to watch, nothing else.
    EXPECT_FALSE(net::Decode(net::Encode(net::Watch{5, 2, 1, 0, "", one, "", 1, 1, 0, {}})));
    EXPECT_FALSE(net::Decode(net::Encode(net::Watch{0, 2, 1, 0, "", one, "", 1, 1, 0, {1}})));
    EXPECT_FALSE(net::Decode(net::Encode(net::WatchInputs{1, 1, {0x10000000}})));
    auto hello = net::Encode(net::Hello{});
    hello.back() = 2;
    EXPECT_FALSE(net::Decode(hello));
    EXPECT_FALSE(net::Decode(net::Encode(net::Inputs{0, 0, 1, {}})));
    EXPECT_FALSE(net::Decode(net::Encode(net::Refuse{0, "0.1.0"})));
    // A Resume carries a state, never one ahead of what the host ran, and fourteen-bit inputs.
    EXPECT_FALSE(net::Decode(net::Encode(net::Resume{10, 12, {}, 1, 0, 0, {}, {}})));
    EXPECT_FALSE(net::Decode(net::Encode(net::Resume{10, 9, {1}, 1, 0, 0, {}, {}})));
    EXPECT_FALSE(net::Decode(net::Encode(net::Resume{10, 12, {1}, 1, 0, 0, {0x4000}, {}})));
    EXPECT_FALSE(net::Decode(net::Encode(net::Resume{10, 12, {1}, 1, 3, 0, {}, {}})));
    // The largest level file the game can address goes in one Welcome.
    const std::vector<uint8_t> full(net::kMaxLevelBytes, 1);
    auto welcome = net::Decode(net::Encode(W(2, 371, 3, 0, 0, "", full)));
    ASSERT_TRUE(welcome);
    EXPECT_EQ(std::get<net::Welcome>(*welcome).levels, full);

    // Random bytes and random damage: decoded or refused, and what decodes encodes the same.
    std::mt19937 rng(99);
    const auto samples = Samples();
    for (int i = 0; i < 200000; ++i) {
        std::vector<uint8_t> bytes;
        if (i % 2) {
            bytes = net::Encode(samples[rng() % samples.size()]);
            bytes[rng() % bytes.size()] ^= uint8_t(1 + rng() % 255);
        } else {
            bytes.resize(rng() % 64);
            for (auto& b : bytes) b = uint8_t(rng());
        }
        if (auto m = net::Decode(bytes)) {
            EXPECT_EQ(net::Encode(*m), bytes);
        }
    }
}

// Only what cannot be sent keeps a player out, and each side is told in its own words.
TEST(NetProtocol, OnlyTheBuildAndTheDrawingFilesMustMatch) {
    net::Identity host;
    host.build = "0.1.0";
    host.graphics = {100, 1};
    host.font = {200, 2};
    net::Identity joiner = host;
    EXPECT_EQ(net::Mismatches(host, joiner), 0);
    joiner.graphics.hash = 5;
    EXPECT_EQ(net::Mismatches(host, joiner), net::kOtherGraphics);
    EXPECT_EQ(net::MismatchText(net::kOtherGraphics, "0.1.0", "0.1.0", true),
              "your graphics file differs from the host's");
    EXPECT_EQ(net::MismatchText(net::kOtherGraphics, "0.1.0", "0.1.0", false),
              "their graphics file differs from yours");
    joiner.build = "0.2.0";
    joiner.font.size = 201;
    const uint8_t what = net::Mismatches(host, joiner);
    EXPECT_EQ(what, net::kOtherBuild | net::kOtherGraphics | net::kOtherFont);
    const std::string why = net::MismatchText(what, host.build, joiner.build, true);
    EXPECT_NE(why.find("you run Kordavel 0.2.0, the host Kordavel 0.1.0"), std::string::npos)
        << why;
    EXPECT_NE(why.find("your font file differs"), std::string::npos) << why;
    EXPECT_EQ(why.find("0x"), std::string::npos) << why;  // no raw numbers

    // Whatever follows, a Hello of another version still shows its version.
    auto old = net::Encode(H(1, host));
    old.resize(old.size() - 3);
    EXPECT_FALSE(net::Decode(old));
    EXPECT_EQ(net::HelloProtocol(old), 1u);
    EXPECT_FALSE(net::HelloProtocol(net::Encode(net::Ping{1})));
}

TEST(NetProtocol, AddressesAreCheckedBeforeAnythingListensOrConnects) {
    std::string error;
    auto joined = net::ParseAddress("127.0.0.1:7510", false, error);
    ASSERT_TRUE(joined);
    EXPECT_EQ(joined->host, "127.0.0.1");
    EXPECT_EQ(joined->port, 7510);
    auto hosted = net::ParseAddress("7510", true, error);
    ASSERT_TRUE(hosted);
    EXPECT_EQ(hosted->host, "");  // every interface, only when hosting
    for (const char* bad :
         {"7510", "host:", ":7510", "host:0", "host:65536", "host:75x", "a:b:1"}) {
        EXPECT_FALSE(net::ParseAddress(bad, false, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

}  // namespace
