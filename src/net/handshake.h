#pragma once
// The handshake of a network game, from connecting to the game both machines will play. The
// joiner says Hello with what must match; the host refuses a machine that does not fit, or
// measures the round trip and sends the Welcome, the game to play, with its settings and level
// records. The host first challenges whoever connects, and takes as its partner the first that
// answers with a Hello proving the invite code (door.h); the joiner answers the challenge. The
// session only carries the messages and does what each step asks.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/controls/settings.h"
#include "core/platform/services.h"
#include "net/protocol.h"
#include "net/transport.h"

namespace net {

constexpr uint32_t kHandshakeMs = 10000;  // either: time for the handshake once connected

// The identity of this program with these data files.
Identity IdentityOf(kdv::FileSystem& disk, const std::string& build);
// The level records the host sends: the whole records of its level file, as many as the game
// can address. Empty when the file cannot be read.
std::vector<uint8_t> LevelRecords(kdv::FileSystem& disk);

// The game a host offers.
struct Offer {
    uint8_t mode = 2;  // gmTwoPlayers or gmDuel
    int32_t stage = 1;
    int64_t ticks = 0;  // stop after this many ticks (0: until a player leaves)
    int window = -1;    // how far the shown game may run ahead (negative: from the round trip)
    kdv::Settings settings;
    std::vector<uint8_t> levels;
    // The game's identity and the joiner's token to come back into it; the host's name.
    GameId game{};
    RejoinToken token{};
    std::string name;
};

class Handshake {
  public:
    using Clock = std::chrono::steady_clock;
    using Send = std::function<void(const Message& message, bool reliable)>;

    // What the session does after a step of the handshake.
    struct Step {
        enum Kind {
            Going,     // nothing yet
            TurnAway,  // host: drop the partner with this code and wait for another
            Refused,   // joiner: the host refused this machine (message says why)
            NoAnswer,  // joiner: the handshake did not finish
            Error,     // joiner: the host asked for a game this program cannot play
            Agreed,    // both: play this game
        } kind = Going;
        CloseCode close = kClosedPlain;
        std::string message;
        net::Welcome game;
    };

    // hosting: the offer is made to whoever connects; joining, the offer is unused and code is
    // the invite code given (normalised; empty on the host's own network).
    Handshake(bool hosting, Identity identity, Offer offer, Send send, std::string code = {});

    // Joiner: its name, said in the Hello; and, coming back into a game, which and with what.
    void Introduce(std::string name) { name_ = std::move(name); }
    void Rejoining(const GameId& game, const RejoinToken& token, bool keeps) {
        rejoinGame_ = game;
        rejoinToken_ = token;
        keeps_ = keeps;
    }
    // The other machine's name, as its Hello or Welcome said it (empty until then).
    const std::string& PeerName() const { return peerName_; }
    // Host: the player came back, saying its name in a Hello the handshake did not take.
    void Met(std::string name) { peerName_ = std::move(name); }

    // A partner connected: the handshake starts over with it.
    void Connected(Clock::time_point now);
    // Host: the partner was turned away; wait for the next.
    void Reset();
    // Whether the handshake takes what arrived (bytes, decoded into message when they could
    // be): before the Hello, anything; then its own messages.
    bool Takes(const std::optional<Message>& message) const;
    Step Receive(std::span<const uint8_t> bytes, const std::optional<Message>& message,
                 Clock::time_point now);
    // Time limits, the pings and the Welcome.
    Step Poll(Clock::time_point now);

    // Host: the round trip measured, for the game's window and delay.
    uint32_t RoundTripMs() const { return roundTripMs_; }
    // Host: the last machine turned away while waiting, in words (empty when none), with the
    // Mismatch bits (0 when it said nothing that fits) and its build.
    const std::string& Notice() const { return notice_; }
    uint8_t TurnedAwayWhat() const { return turnedAwayWhat_; }
    const std::string& TurnedAwayBuild() const { return turnedAwayBuild_; }
    // Joiner refused: the Mismatch bits, the host's build, and the differences in words.
    uint8_t RefusedWhat() const { return refusedWhat_; }
    const std::string& HostBuild() const { return hostBuild_; }
    const std::string& Detail() const { return detail_; }

  private:
    Step TakeHello(const net::Hello& hello);
    Step RefuseHello(uint8_t what, const std::string& theirBuild);
    Step TakeWelcome(const net::Welcome& welcome);

    bool hosting_;
    Identity identity_;
    Offer offer_;
    Send send_;
    std::string code_;
    std::string name_, peerName_;
    GameId rejoinGame_{};
    RejoinToken rejoinToken_{};
    bool keeps_ = false;
    bool talking_ = false;  // connected, and no game agreed yet
    bool helloSeen_ = false;
    bool helloSent_ = false;
    Clock::time_point since_, lastPing_;
    std::map<uint32_t, Clock::time_point> pings_;
    std::vector<uint32_t> roundTrips_;
    uint32_t roundTripMs_ = 0;
    std::string notice_;
    uint8_t turnedAwayWhat_ = 0;
    std::string turnedAwayBuild_;
    uint8_t refusedWhat_ = 0;
    std::string hostBuild_, detail_;
};

}  // namespace net
