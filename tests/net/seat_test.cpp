// The seat a joiner keeps on disk to come back into a game, and the host's test of it: a file
// damaged or meant for another address gives no seat, the token is the user's alone, a seat in
// use by a running program is nobody else's, and a seat goes only with both the game and its
// token.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "net/rejoin.h"

namespace {

namespace fs = std::filesystem;

TEST(NetSeat, KeptFoundAndForgottenByAddressAndNeverReadDamaged) {
    const fs::path folder =
        fs::temp_directory_path() / ("kordavel-seat-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    const net::SeatStore store(folder / "replays");
    net::Seat seat{"127.0.0.1:7510", "ABCDEFGHJK", net::NewGameId(), net::NewToken(), "Ann"};
    std::string error;
    ASSERT_TRUE(store.Keep(seat, error)) << error;
    const auto found = store.Find("127.0.0.1:7510");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->game, seat.game);
    EXPECT_EQ(found->token, seat.token);
    EXPECT_EQ(found->code, "ABCDEFGHJK");
    EXPECT_EQ(found->hostName, "Ann");
    EXPECT_FALSE(store.Find("127.0.0.1:7511"));
    // Only this user may read the token.
    for (const auto& entry : fs::directory_iterator(folder / "replays")) {
        struct stat st {};
        ASSERT_EQ(::stat(entry.path().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 077, 0u) << entry.path();
    }
    // A second game elsewhere is the last kept; a seat file cut short is no seat.
    net::Seat other = seat;
    other.address = "192.0.2.1:7510";
    ASSERT_TRUE(store.Keep(other, error)) << error;
    ASSERT_TRUE(store.Last());
    const fs::path otherFile = folder / "replays" / "seat-192.0.2.1_7510.txt";
    ASSERT_TRUE(fs::exists(otherFile));
    fs::last_write_time(otherFile, fs::last_write_time(otherFile) + std::chrono::seconds(5));
    EXPECT_EQ(store.Last()->address, "192.0.2.1:7510");
    const std::string whole = [&] {
        std::ifstream in(otherFile);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    std::ofstream(otherFile, std::ios::trunc) << whole.substr(0, whole.size() - 10);
    EXPECT_FALSE(store.Find("192.0.2.1:7510"));
    EXPECT_EQ(store.Last()->address, "127.0.0.1:7510");
    // While a program plays the game, no other takes its seat; once it is gone, one may.
    {
        const auto held = store.Hold("127.0.0.1:7510");
        ASSERT_TRUE(held);
        EXPECT_FALSE(store.Find("127.0.0.1:7510"));
        EXPECT_FALSE(store.Hold("127.0.0.1:7510"));
        EXPECT_FALSE(store.Last());
    }
    EXPECT_TRUE(store.Find("127.0.0.1:7510"));
    store.Forget("127.0.0.1:7510");
    EXPECT_FALSE(store.Find("127.0.0.1:7510"));
    fs::remove_all(folder);
}

TEST(NetSeat, TheSeatGoesOnlyWithTheGameAndItsToken) {
    const net::GameId game = net::NewGameId();
    const net::RejoinToken token = net::NewToken();
    net::Hello hello;
    hello.game = game;
    hello.token = token;
    EXPECT_TRUE(net::TakesSeat(hello, game, token));
    hello.token[15] ^= 1;
    EXPECT_FALSE(net::TakesSeat(hello, game, token));
    hello.token = token;
    hello.game[0] ^= 1;
    EXPECT_FALSE(net::TakesSeat(hello, game, token));
    // A game whose token was never given (all zero) has no seat to give back.
    EXPECT_FALSE(net::TakesSeat(net::Hello{}, net::GameId{}, net::RejoinToken{}));
}

}  // namespace
