#pragma once
// When the frame timer's ticks fall due: on an absolute grid of whole periods from the start,
// so that waking early or late never shifts the ticks after it. A tick that comes so late that
// it passed further grid points is not repeated to catch up: the points it passed are counted
// as missed and the next tick keeps to the grid.
#include <cstdint>

namespace app {

class TickSchedule {
  public:
    explicit TickSchedule(int64_t periodNs) : period_(periodNs) {}

    // The first tick is due at now.
    void Start(int64_t nowNs) {
        start_ = nowNs;
        slot_ = -1;
        next_ = nowNs;
    }
    // A tick runs at now; returns when the next one is due.
    int64_t Ran(int64_t nowNs) {
        int64_t slot = nowNs > start_ ? (nowNs - start_) / period_ : 0;
        if (slot <= slot_) slot = slot_ + 1;  // woken a little early: this is the next point
        if (slot > slot_ + 1) missed_ += slot - slot_ - 1;
        slot_ = slot;
        next_ = start_ + (slot + 1) * period_;
        return next_;
    }
    int64_t NextDue() const { return next_; }
    int64_t Missed() const { return missed_; }
    int64_t Period() const { return period_; }

  private:
    int64_t period_;
    int64_t start_ = 0;
    int64_t slot_ = -1;
    int64_t next_ = 0;
    int64_t missed_ = 0;
};

}  // namespace app
