// The network messages against damage, and the checks that decide whether two machines may
// play together.
#include <gtest/gtest.h>

#include <random>

#include "net/protocol.h"
#include "net/transport.h"

namespace {

std::vector<net::Message> Samples() {
    net::Identity id;
    id.gameVersion = "0.1.0";
    id.data[0] = {1234, 0x1122334455667788ull};
    id.gameDifficulty = 2;
    return {net::Hello{net::kProtocolVersion, id},
            net::Refuse{"the difficulty differs"},
            net::Ping{7},
            net::Pong{7},
            net::Welcome{3, 4, 5, 100000, "[Options]\nGameDifficulty=2\n"},
            net::Inputs{10, 11, {1, 0x3FFF, 0, 42}},
            net::Hash{60, 0xDEADBEEFCAFEF00Dull},
            net::Bye{770, "bye"}};
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
    // A player's input has fourteen bits; a delay outside 2..6 is no delay; stage 0 no stage.
    EXPECT_FALSE(net::Decode(net::Encode(net::Inputs{0, 1, {0x4000}})));
    EXPECT_FALSE(net::Decode(net::Encode(net::Welcome{2, 1, 7, 0, ""})));
    EXPECT_FALSE(net::Decode(net::Encode(net::Welcome{2, 0, 3, 0, ""})));
    EXPECT_FALSE(net::Decode(net::Encode(net::Inputs{0, 1, {}})));

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

TEST(NetProtocol, DifferencesNameWhatDiffers) {
    net::Identity host;
    host.gameVersion = "0.1.0";
    net::Identity joiner = host;
    EXPECT_FALSE(net::Differences(host, joiner));
    joiner.gameVersion = "0.2.0";
    joiner.data[1].hash = 5;
    joiner.gameDifficulty = 3;
    const std::string why = net::Differences(host, joiner).value_or("");
    EXPECT_NE(why.find("Kordavel 0.1.0"), std::string::npos) << why;
    EXPECT_NE(why.find("Kordavel 0.2.0"), std::string::npos) << why;
    EXPECT_NE(why.find(replay::kDataFiles[1]), std::string::npos) << why;
    EXPECT_EQ(why.find(replay::kDataFiles[0]), std::string::npos) << why;
    EXPECT_NE(why.find("difficulty differs (host 0, joining player 3)"), std::string::npos) << why;
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
