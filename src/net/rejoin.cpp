#include "net/rejoin.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cctype>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "net/invite.h"

namespace net {
namespace {

constexpr const char* kSeatPrefix = "seat-";

std::array<uint8_t, 16> Random16() {
    std::array<uint8_t, 16> b{};
    if (!SecureRandom(b.data(), b.size())) throw std::runtime_error("no secure random source");
    return b;
}

bool SameBytes(const std::array<uint8_t, 16>& a, const std::array<uint8_t, 16>& b) {
    volatile uint8_t diff = 0;
    for (size_t i = 0; i < a.size(); ++i) diff = uint8_t(diff | (a[i] ^ b[i]));
    return diff == 0;
}

// Another program holds the file's lock.
bool InUse(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return locked;
}

std::optional<Seat> ReadSeat(const std::filesystem::path& path) {
    if (InUse(path)) return std::nullopt;
    std::ifstream in(path);
    if (!in) return std::nullopt;
    Seat seat;
    bool game = false, token = false;
    std::string line;
    while (std::getline(in, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "address") {
            seat.address = value;
        } else if (key == "code") {
            seat.code = value;
        } else if (key == "host") {
            seat.hostName = value.substr(0, kMaxNameText);
        } else if (key == "game") {
            auto b = FromHex(value);
            if (b) seat.game = *b;
            game = b.has_value();
        } else if (key == "token") {
            auto b = FromHex(value);
            if (b) seat.token = *b;
            token = b.has_value();
        }
    }
    if (!game || !token || seat.address.empty()) return std::nullopt;
    return seat;
}

}  // namespace

std::string ToHex(const std::array<uint8_t, 16>& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (uint8_t b : bytes) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

std::optional<std::array<uint8_t, 16>> FromHex(const std::string& text) {
    if (text.size() != 32) return std::nullopt;
    std::array<uint8_t, 16> b{};
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    for (size_t i = 0; i < 16; ++i) {
        const int hi = nibble(text[2 * i]), lo = nibble(text[2 * i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        b[i] = uint8_t(hi << 4 | lo);
    }
    return b;
}

GameId NewGameId() {
    return Random16();
}

RejoinToken NewToken() {
    return Random16();
}

bool IsZero(const std::array<uint8_t, 16>& bytes) {
    return SameBytes(bytes, {});
}

bool TakesSeat(const Hello& hello, const GameId& game, const RejoinToken& token) {
    // Both compared whatever the first says, and a zero token never fits.
    const bool sameGame = SameBytes(hello.game, game);
    const bool sameToken = SameBytes(hello.token, token);
    return sameGame & sameToken & !IsZero(token);
}

// One file a host address; the address is kept in it too, its name only tells them apart.
std::filesystem::path SeatStore::PathOf(const std::string& address) const {
    std::string name = kSeatPrefix;
    for (char c : address) name += (std::isalnum(uint8_t(c)) || c == '.' || c == '-') ? c : '_';
    return folder_ / (name + ".txt");
}

std::optional<Seat> SeatStore::Find(const std::string& address) const {
    if (!Enabled()) return std::nullopt;
    auto seat = ReadSeat(PathOf(address));
    if (seat && seat->address != address) return std::nullopt;
    return seat;
}

std::optional<Seat> SeatStore::Last() const {
    if (!Enabled()) return std::nullopt;
    std::error_code ec;
    std::optional<Seat> last;
    std::filesystem::file_time_type lastTime{};
    for (const auto& entry : std::filesystem::directory_iterator(folder_, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(kSeatPrefix, 0) != 0 || entry.path().extension() != ".txt") continue;
        const auto time = entry.last_write_time(ec);
        if (ec || (last && time <= lastTime)) continue;
        if (auto seat = ReadSeat(entry.path())) {
            last = std::move(seat);
            lastTime = time;
        }
    }
    return last;
}

bool SeatStore::Keep(const Seat& seat, std::string& error) const {
    if (!Enabled()) return true;
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    const auto path = PathOf(seat.address);
    auto temporary = path;
    temporary += ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        // The token is a secret: this user's alone.
        std::filesystem::permissions(
            temporary, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
            ec);
        out << "address=" << seat.address << "\ncode=" << seat.code << "\nhost=" << seat.hostName
            << "\ngame=" << ToHex(seat.game) << "\ntoken=" << ToHex(seat.token) << "\n";
        if (!out.flush()) {
            error = "cannot write " + temporary.string();
            return false;
        }
    }
    std::filesystem::rename(temporary, path, ec);
    if (ec) {
        error = "cannot write " + path.string() + ": " + ec.message();
        return false;
    }
    return true;
}

SeatLock::~SeatLock() {
    ::close(fd_);  // the lock goes with it
}

std::unique_ptr<SeatLock> SeatStore::Hold(const std::string& address) const {
    if (!Enabled()) return nullptr;
    const int fd = ::open(PathOf(address).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<SeatLock>(fd);
}

void SeatStore::Forget(const std::string& address) const {
    if (!Enabled()) return;
    std::error_code ec;
    std::filesystem::remove(PathOf(address), ec);
}

}  // namespace net
