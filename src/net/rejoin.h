#pragma once
// Coming back into a network game after the connection dropped. The host gives the joiner a
// token for each game in its Welcome; the joiner keeps it on disk beside its replays until the
// game ends, so that even a program started again finds it. While the partner is silent both
// games hold for up to kGiveUpMs; a joiner whose connection fell silent connects again by
// itself, and the host gives the seat only to a Hello for its game with that token (and the
// invite code, as at the start). The host then sends its confirmed state and the inputs past
// it (a Resume); a joiner that still runs the game keeps its own.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "net/protocol.h"

namespace net {

// A joiner whose partner has been silent this long connects again.
constexpr uint32_t kReconnectAfterMs = 5000;
// ... and knocks again this often until it is back in or the wait is over.
constexpr uint32_t kReconnectEveryMs = 2000;

// What a joiner keeps of a game it plays, to come back into it.
struct Seat {
    std::string address;  // the host as joined, "HOST:PORT"
    std::string code;     // the invite code given, normalised (empty on the host's network)
    GameId game{};
    RejoinToken token{};
    std::string hostName;
};

// A seat in use: the program playing the game holds a lock on its file for as long as it
// runs, so that another program of the same player (started on the same folder meanwhile)
// does not take the seat from under it. A killed program's lock goes with it.
class SeatLock {
  public:
    explicit SeatLock(int fd) : fd_(fd) {}
    ~SeatLock();
    SeatLock(const SeatLock&) = delete;
    SeatLock& operator=(const SeatLock&) = delete;

  private:
    int fd_;
};

// The seats kept on disk, a small text file each, in a folder of their own.
class SeatStore {
  public:
    explicit SeatStore(std::filesystem::path folder) : folder_(std::move(folder)) {}
    bool Enabled() const { return !folder_.empty(); }
    // The seat kept for a game at this address; nothing when none, the file is damaged, or
    // another program plays that game now.
    std::optional<Seat> Find(const std::string& address) const;
    // The seat kept most recently, whatever the address (the window's Rejoin), and not in use.
    std::optional<Seat> Last() const;
    // Takes the seat kept for this address as this program's while the lock lasts; nothing
    // when there is none or another program holds it.
    std::unique_ptr<SeatLock> Hold(const std::string& address) const;
    // Written through a temporary, so that a program killed meanwhile leaves the old or the new.
    bool Keep(const Seat& seat, std::string& error) const;
    void Forget(const std::string& address) const;

  private:
    std::filesystem::path PathOf(const std::string& address) const;
    std::filesystem::path folder_;
};

// A game's identity and a token, new from the secure random source.
GameId NewGameId();
RejoinToken NewToken();
bool IsZero(const std::array<uint8_t, 16>& bytes);
// The host's test of a Hello during play: for this game, with this token. Compared in constant
// time, whatever the first difference.
bool TakesSeat(const Hello& hello, const GameId& game, const RejoinToken& token);

std::string ToHex(const std::array<uint8_t, 16>& bytes);
std::optional<std::array<uint8_t, 16>> FromHex(const std::string& text);

}  // namespace net
