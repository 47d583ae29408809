#pragma once
// Rollback: the game the player sees runs ahead of the other player's input on guesses, and
// when a guess proves wrong it goes back to the last state both machines agree on and runs the
// guessed ticks again. The saved state is not a copy taken now and then but a game of its own
// that runs only ticks whose inputs are both known: it is what is recorded and compared, and it
// never runs a tick twice. Loading it is copying that game into the one ahead.
#include <cstdint>
#include <functional>

#include "net/input_queue.h"

namespace net {

// Both players' inputs for a tick: the host's and the joiner's.
struct TickInputs {
    uint16_t host = 0;
    uint16_t joiner = 0;
};

// What rollback needs of the games.
class Simulation {
  public:
    virtual ~Simulation() = default;
    // The saved state runs tick, whose inputs are both known.
    virtual void Save(int64_t tick, TickInputs inputs) = 0;
    // The game ahead takes the saved state.
    virtual void Load() = 0;
    // The game ahead runs tick. quiet: more ticks follow at once, so its frame is not shown.
    virtual void Advance(int64_t tick, TickInputs inputs, bool quiet) = 0;
    // The state after tick: of the game ahead, or of the saved one.
    virtual uint64_t Checksum(int64_t tick, bool ahead) = 0;
};

class Rollback {
  public:
    // hosting: this machine's player is the host; first: the first tick to run (after a
    // state taken from the other machine, its tick and one).
    Rollback(Simulation& simulation, InputQueue& inputs, bool hosting, int64_t first = 1);

    // The last tick the saved state ran, and the last the game ahead ran (never behind it).
    int64_t Confirmed() const { return next_ - 1; }
    int64_t Ahead() const { return aheadNext_ - 1; }
    // The agreed last tick (0: none): nothing past it is run, and a game ahead that ran past
    // it is taken back.
    void LimitTo(int64_t last) { limit_ = last; }
    int64_t Limit() const { return limit_; }

    // The game ahead runs its next tick, on this player's input and the other's known or
    // guessed.
    void Advance();
    // The saved state runs every tick the game ahead ran whose inputs are now both known,
    // calling confirmed(tick) after each; it returns false to stop there (the game ended).
    // When one of those ticks was guessed wrong (or guessed at all, when always), the game
    // ahead is loaded from the saved state and runs its ticks again. False when stopped.
    bool Confirm(bool always, const std::function<bool(int64_t tick)>& confirmed);

    long Rollbacks() const { return rollbacks_; }
    long TicksRunAgain() const { return ticksRunAgain_; }

  private:
    void Correct();
    void RunAhead(int64_t tick, bool quiet);
    TickInputs Both(uint16_t mine, uint16_t theirs) const;

    Simulation& simulation_;
    InputQueue& inputs_;
    bool hosting_;
    int64_t limit_ = 0;
    int64_t next_ = 1;       // the next tick the saved state runs
    int64_t aheadNext_ = 1;  // ... the game ahead runs
    long rollbacks_ = 0;
    long ticksRunAgain_ = 0;
};

}  // namespace net
