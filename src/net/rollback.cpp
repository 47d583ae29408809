#include "net/rollback.h"

#include <algorithm>

namespace net {

Rollback::Rollback(Simulation& simulation, InputQueue& inputs, bool hosting, int64_t first)
    : simulation_(simulation),
      inputs_(inputs),
      hosting_(hosting),
      next_(first),
      aheadNext_(first) {}

TickInputs Rollback::Both(uint16_t mine, uint16_t theirs) const {
    return hosting_ ? TickInputs{mine, theirs} : TickInputs{theirs, mine};
}

void Rollback::Advance() {
    RunAhead(aheadNext_++, false);
}

bool Rollback::Confirm(bool always, const std::function<bool(int64_t tick)>& confirmed) {
    bool wrong = limit_ && aheadNext_ > limit_ + 1;  // it ran past the agreed end
    while (next_ < aheadNext_ && next_ <= inputs_.RemoteKnown()) {
        const int64_t tick = next_;
        const InputQueue::Guess guess = inputs_.Check(tick);
        wrong = wrong || (guess.made && (always || guess.wrong));
        simulation_.Save(tick, Both(inputs_.Local(tick), inputs_.Remote(tick)));
        inputs_.Used(tick);
        ++next_;
        if (!confirmed(tick)) return false;
    }
    if (wrong) Correct();
    return true;
}

void Rollback::Correct() {
    ++rollbacks_;
    inputs_.ForgetGuesses();
    simulation_.Load();
    const int64_t last = limit_ ? std::min(aheadNext_ - 1, limit_) : aheadNext_ - 1;
    for (int64_t tick = next_; tick <= last; ++tick) {
        RunAhead(tick, tick < last);
        ++ticksRunAgain_;
    }
    aheadNext_ = last + 1;
}

void Rollback::RunAhead(int64_t tick, bool quiet) {
    simulation_.Advance(tick, Both(inputs_.Local(tick), inputs_.Theirs(tick)), quiet);
}

}  // namespace net
