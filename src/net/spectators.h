#pragma once
// The host's spectators: up to eight machines beside the partner that watch the game without
// playing. Each gets the game's start (as the joiner does, or the confirmed game's state when it
// comes in the middle), then both players' confirmed inputs in batches, sent unreliably and sent
// again from its acknowledgement on. The players never wait for a spectator: one whose
// acknowledgement falls seconds behind the game is dropped, and the game's own loop does no
// more per tick than append the tick's inputs to one log.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "net/protocol.h"
#include "net/transport.h"

namespace net {

constexpr size_t kMaxSpectators = 8;
constexpr uint32_t kSpectatorLagMs = 3000;     // behind the game by more: dropped
constexpr uint32_t kSpectatorFinishMs = 5000;  // after the game: time to take its last inputs

class Spectators {
  public:
    using Clock = std::chrono::steady_clock;
    using SendTo = std::function<void(uint32_t id, const Message& message, bool reliable)>;
    using Close = std::function<void(uint32_t id, CloseCode why)>;

    // identity: the host's, which a spectator's must match; sendTo and close reach a
    // spectator by its connection's id.
    Spectators(Identity identity, SendTo sendTo, Close close);

    // A machine that proved the invite code asks to watch: kept, or refused (it is told why and
    // closed).
    bool Take(uint32_t id, const Hello& hello, Clock::time_point now);
    // What a spectator said; it went.
    void Received(uint32_t id, const std::vector<uint8_t>& bytes, Clock::time_point now);
    void Gone(uint32_t id);

    // The game was agreed: what the spectators are told of it, and the host's name.
    void Begin(const Welcome& game, const std::string& host);
    // The confirmed game ran its next tick on this mask (the host's, then the joiner's bits).
    void Append(uint32_t mask) { log_.push_back(mask); }
    // The game ended after final confirmed ticks; reason empty when it did not fail.
    void End(int64_t final, const std::string& reason);

    // Where the confirmed game is now, for a spectator's start.
    struct Now {
        bool running = false;  // the game has started
        int64_t tick = 0;      // its last confirmed tick
        // Fills in a start from the middle (tick > 0): the state, the level dialog, the mask.
        std::function<void(Watch& start)> state;
    };
    // Sends the starts, the inputs and the count that are due, and drops the slow.
    void Poll(Clock::time_point now, const Now& game);

    size_t Count() const { return watchers_.size(); }
    // Inputs held for the spectators.
    size_t Logged() const { return log_.size(); }
    // The game has ended and a spectator still lacks its last inputs (for a while).
    bool Finishing(Clock::time_point now) const;

    long admitted = 0;
    long full = 0;     // turned away: eight watched already
    long refused = 0;  // another build or other data files
    long dropped = 0;  // fell too far behind
    // The most watching at once.
    size_t most = 0;

  private:
    struct Watcher {
        bool started = false;
        int64_t from = 0;   // the tick it came in after
        int64_t acked = 0;  // it holds every input to here
        bool byeSent = false;
        Clock::time_point lastSent{};
        uint8_t toldCount = 0;
    };
    void Start(uint32_t id, Watcher& w, const Now& game);
    void SendInputs(uint32_t id, Watcher& w, Clock::time_point now, int64_t last);
    // When the confirmed game reached the tick after this one (for a spectator's lag).
    std::optional<Clock::time_point> ReachedAfter(int64_t tick) const;
    void Trim(int64_t confirmed);

    Identity identity_;
    SendTo sendTo_;
    Close close_;
    std::optional<Watch> game_;  // the start, without the state
    std::map<uint32_t, Watcher> watchers_;
    std::deque<uint32_t> log_;  // the confirmed masks from tick base_ on
    int64_t base_ = 1;
    // When the confirmed game had run how far, one mark a poll, oldest first.
    std::deque<std::pair<int64_t, Clock::time_point>> marks_;
    std::optional<int64_t> final_;
    std::string reason_;
    Clock::time_point endedAt_{};
};

}  // namespace net
