// The seat a joiner keeps on disk to come back into a game: the token is the user's alone, a
// file damaged or meant for another address gives no seat, and a seat in use by a running
// program is nobody else's. (Coming back with it is tested end to end in net_test.sh.)
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "net/rejoin.h"

namespace {

namespace fs = std::filesystem;

TEST(NetSeat, OnlyThePlayersOwnWholeSeatIsFoundAndNotWhileInUse) {
    const fs::path folder =
        fs::temp_directory_path() / ("kordavel-seat-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    const net::SeatStore store(folder);
    const net::Seat seat{"127.0.0.1:7510", "ABCDEFGHJK", net::NewGameId(), net::NewToken(), "Ann"};
    std::string error;
    ASSERT_TRUE(store.Keep(seat, error)) << error;
    const fs::path file = folder / "seat-127.0.0.1_7510.txt";
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u);
    EXPECT_FALSE(store.Find("127.0.0.1:7511"));
    {
        const auto held = store.Hold(seat.address);
        ASSERT_TRUE(held);
        EXPECT_FALSE(store.Find(seat.address));
        EXPECT_FALSE(store.Last());
    }
    const auto found = store.Last();
    ASSERT_TRUE(found);
    EXPECT_EQ(found->token, seat.token);
    EXPECT_EQ(found->code, seat.code);
    // A file cut short in its token is no seat.
    std::ifstream in(file);
    const std::string whole(std::istreambuf_iterator<char>(in), {});
    std::ofstream(file, std::ios::trunc) << whole.substr(0, whole.size() - 5);
    EXPECT_FALSE(store.Find(seat.address));
    store.Forget(seat.address);
    EXPECT_FALSE(fs::exists(file));
    fs::remove_all(folder);
}

}  // namespace
