#include "net/pacing.h"

#include <algorithm>
#include <cmath>

#include "core/flow/main_form.h"

namespace net {
namespace {

constexpr auto kTick = std::chrono::milliseconds(kdv::kTimerInterval);

}  // namespace

Pacing::Pacing(bool paced, bool polledEachTick, bool keepIntervals)
    : paced_(paced), polledEachTick_(polledEachTick), keepIntervals_(keepIntervals) {}

void Pacing::Start(Clock::time_point now, bool waitForPeer) {
    playStart_ = nextDue_ = now;
    started_ = !waitForPeer || !paced_;
}

void Pacing::Heard(Clock::time_point now, int8_t lead, uint32_t roundTripMs) {
    peerAhead_ = lead / 4.0;
    if (started_) return;
    // As if half a round trip earlier, when the other machine started: even when the game's
    // start had to be sent again, neither begins ahead of the other.
    started_ = true;
    const auto halfTrip =
        std::chrono::milliseconds(std::min<uint32_t>(roundTripMs / 2, 8 * kdv::kTimerInterval));
    playStart_ = nextDue_ = now - halfTrip;
}

int8_t Pacing::Lead() const {
    return int8_t(std::clamp(std::lround(ahead_ * 4), -127L, 127L));
}

bool Pacing::Due(Clock::time_point now, int64_t tick) const {
    // A caller with a beat of its own runs the tick due within half a tick of its poll.
    const auto early = polledEachTick_ ? kTick / 2 : Clock::duration::zero();
    return started_ && (!paced_ || tick <= catchUpTo_ || now + early >= nextDue_);
}

uint32_t Pacing::WaitMs(Clock::time_point now, uint32_t waitMs, bool couldRun) const {
    // A tick due sooner than that is not kept waiting; one that waits for the other machine's
    // input is woken by its arrival.
    if (!paced_ || !started_ || !couldRun) return waitMs;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(nextDue_ - now).count();
    return ms <= 0 ? 0 : std::min(waitMs, uint32_t(ms));
}

void Pacing::Ticking(Clock::time_point now, int64_t, int64_t lead) {
    // A stall is a frame held on screen for longer than a tick and a half while the other
    // machine's input was on its way.
    const bool first = lastTickAt_ == Clock::time_point{};  // tick 1, or the first after a rejoin
    if (paced_ && !first && now - lastTickAt_ > kTick * 3 / 2) {
        ++stalls_;
        stalledSeconds_ += std::chrono::duration<double>(now - lastTickAt_ - kTick).count();
    }
    if (keepIntervals_ && !first)
        intervals_.push_back(std::chrono::duration<double, std::milli>(now - lastTickAt_).count());
    lastTickAt_ = now;
    ahead_ += (double(lead) - ahead_) / 16;
}

void Pacing::Ticked(Clock::time_point now) {
    if (!paced_) return;
    // After a wait the beat follows the other machine's rather than racing to catch up with
    // its own, which would only make the next wait longer.
    const auto due = nextDue_;
    nextDue_ = waited_ ? now + kTick : nextDue_ + kTick;
    if (now - nextDue_ > 8 * kTick) nextDue_ = now;
    waited_ = false;
    // The machine further ahead of the other's input slows down a little, until both wait as
    // long for each other's input: half the difference is its lead in ticks.
    const bool slow = (ahead_ - peerAhead_) / 2 > 1;
    if (!polledEachTick_) {
        if (slow) nextDue_ += std::chrono::milliseconds(1);
        return;
    }
    // The ticks keep to the caller's polls, so that a poll near the edge of the half tick does
    // not run none and then two; slowing down skips a whole poll now and then instead.
    if (now - due > -kTick / 2 && now - due < kTick / 2) nextDue_ += (now - due) / 8;
    if (slow) slowedBy_ += std::chrono::milliseconds(1);
    if (slowedBy_ >= kTick) {
        slowedBy_ -= kTick;
        nextDue_ += kTick;
    }
}

}  // namespace net
