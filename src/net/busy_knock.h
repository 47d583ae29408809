#pragma once
// Knocking again on a host that turned this machine away while it seated someone: a quarter
// second after each time, for a few seconds from the first, since the host gives its seat up
// within that time.
#include <chrono>
#include <cstdint>
#include <optional>

namespace net {

constexpr uint32_t kBusyRetryMs = 6000;  // how long to knock again on a busy host

class BusyKnock {
  public:
    using Clock = std::chrono::steady_clock;

    // Turned away now: false once it has knocked for long enough.
    bool TurnedAway(Clock::time_point now) {
        if (!since_) since_ = now;
        if (now - *since_ >= std::chrono::milliseconds(kBusyRetryMs)) return false;
        at_ = now + std::chrono::milliseconds(250);
        return true;
    }
    // A knock is waiting for its time.
    bool Waiting() const { return at_.has_value(); }
    // The knock's time has come: true once for each TurnedAway that was not the last.
    bool Due(Clock::time_point now) {
        if (!at_ || now < *at_) return false;
        at_.reset();
        return true;
    }

  private:
    std::optional<Clock::time_point> since_, at_;
};

}  // namespace net
