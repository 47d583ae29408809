#pragma once
// The beat of a network game: when the next tick is due, so that both machines keep the same
// time. Each tells the other how far it runs ahead of the other's input (its lead); the machine
// further ahead lengthens its ticks a little until the two leads are even.
#include <chrono>
#include <cstdint>
#include <vector>

namespace net {

class Pacing {
  public:
    using Clock = std::chrono::steady_clock;

    // paced: one tick every 13 ms (else as fast as the inputs allow); polledEachTick: the
    // caller polls on a beat of its own; keepIntervals: for TickIntervalsMs.
    Pacing(bool paced, bool polledEachTick, bool keepIntervals);

    // The game starts now. A host waits for the joiner's first inputs before it starts its
    // beat, so that neither begins ahead of the other.
    void Start(Clock::time_point now, bool waitForPeer);
    // The other machine's inputs arrived, with its lead in quarter ticks.
    void Heard(Clock::time_point now, int8_t lead, uint32_t roundTripMs);
    bool Started() const { return started_; }
    // This machine's lead, in quarter ticks, as sent.
    int8_t Lead() const;

    // Whether tick, the next, is due now.
    bool Due(Clock::time_point now, int64_t tick) const;
    // Ticks up to this one are due at once: a player who came back catches up with the other.
    void CatchUp(int64_t through) { catchUpTo_ = through; }
    // How long a poll may wait for the network: no longer than until the next tick is due, when
    // it could run (its inputs are there).
    uint32_t WaitMs(Clock::time_point now, uint32_t waitMs, bool couldRun) const;
    // The tick now due waits for the other machine's input.
    void Waiting() { waited_ = true; }
    // The next tick runs now; lead: how many ticks it is past the other player's last input
    // known, counting itself.
    void Ticking(Clock::time_point now, int64_t tick, int64_t lead);
    // ... and has run.
    void Ticked(Clock::time_point now);

    Clock::time_point PlayStart() const { return playStart_; }
    long Stalls() const { return stalls_; }
    double StalledSeconds() const { return stalledSeconds_; }
    const std::vector<double>& TickIntervalsMs() const { return intervals_; }

  private:
    bool paced_, polledEachTick_, keepIntervals_;
    bool started_ = true;
    int64_t catchUpTo_ = 0;
    bool waited_ = false;  // the tick now due had to wait for the other machine's input
    Clock::time_point playStart_, nextDue_, lastTickAt_;
    double ahead_ = 0;            // this machine's lead in ticks, smoothed
    double peerAhead_ = 0;        // the other's, as it says
    Clock::duration slowedBy_{};  // slowing down not yet taken as a skipped poll
    long stalls_ = 0;
    double stalledSeconds_ = 0;
    std::vector<double> intervals_;
};

}  // namespace net
