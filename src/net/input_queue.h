#pragma once
// Both players' inputs during a network game: this player's, kept until the other machine
// acknowledges them, and the other player's as they arrive, with a guess for each tick they
// have not yet come for. Ticks are numbered from 1; the first `delay` ticks of both players are
// empty, since nobody could have sent them.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "net/protocol.h"

namespace net {

class InputQueue {
  public:
    explicit InputQueue(int delay);

    // A player coming back: the game goes on after tick confirmed, with this player's inputs
    // (mine) and the other's (theirs) known past it, as the host held them.
    void Resume(int64_t confirmed, const std::vector<uint16_t>& mine,
                const std::vector<uint16_t>& theirs, uint16_t lastTheirs);
    // The inputs past tick, of this player and the other, as they are known: what a player
    // coming back is sent.
    std::vector<uint16_t> LocalAfter(int64_t tick) const;
    std::vector<uint16_t> RemoteAfter(int64_t tick) const;

    // The other player's program started again: of its inputs only those up to RemoteKnown()
    // stand; any that came past a gap may differ from what the new program sends.
    void ForgetBeyondKnown() { remote_.erase(remote_.upper_bound(remoteKnown_), remote_.end()); }

    // This player's input for the tick after LastLocal().
    void AddLocal(uint16_t mask);
    int64_t LastLocal() const { return lastLocal_; }
    uint16_t Local(int64_t tick) const { return local_.at(tick); }
    // The other machine holds every input of this player up to here.
    int64_t PeerAck() const { return peerAck_; }

    // The inputs to send: every one the other machine has not acknowledged (at least the last,
    // so that the acknowledgement and the lead still go out), up to a packet's worth.
    std::optional<Inputs> Outgoing(int8_t lead) const;
    // Takes the other machine's inputs and acknowledgement; next is the next tick the confirmed
    // game runs: inputs it has run are no longer kept, and inputs far beyond it are ignored.
    void Receive(const Inputs& in, int64_t next);

    // Every input of the other player up to here is known.
    int64_t RemoteKnown() const { return remoteKnown_; }
    uint16_t Remote(int64_t tick) const { return remote_.at(tick); }
    // The confirmed game has run tick: its input of the other player is no longer needed.
    void Used(int64_t tick) { remote_.erase(tick); }

    // The other player's input for tick: the known one, or a guess that is kept until the tick
    // is confirmed. A player mostly holds what they held, so the guess is the last one known.
    uint16_t Theirs(int64_t tick);
    // Whether tick, now known, was guessed, and wrongly; its guess is forgotten either way.
    struct Guess {
        bool made = false;
        bool wrong = false;
    };
    Guess Check(int64_t tick);
    // The game that ran on the guesses starts again from the confirmed one.
    void ForgetGuesses() { guessed_.clear(); }

    // For tests: replaces the guess of the other player's input for a tick.
    std::function<uint16_t(int64_t tick, uint16_t guess)> guess;

  private:
    std::map<int64_t, uint16_t> local_;  // this player's inputs not yet acknowledged
    int64_t lastLocal_ = 0;              // last tick whose local input is read
    int64_t peerAck_ = 0;
    std::map<int64_t, uint16_t> remote_;  // the other player's inputs for ticks not yet run
    int64_t remoteKnown_ = 0;
    uint16_t lastRemote_ = 0;              // the input of tick remoteKnown_
    std::map<int64_t, uint16_t> guessed_;  // the guesses the shown game ran on
};

}  // namespace net
