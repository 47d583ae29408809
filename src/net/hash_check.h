#pragma once
// The comparison of the two machines' confirmed games: each sends the hash of its state after
// every kHashPeriod-th tick and the last, and compares the other's for the same tick.
#include <cstdint>
#include <map>
#include <optional>

namespace net {

constexpr int kHashPeriod = 60;  // ticks between state comparisons

class HashCheck {
  public:
    // This machine's hash after tick, and the other's. Either returns the first tick whose
    // hashes differ, once both are known.
    std::optional<int64_t> Mine(int64_t tick, uint64_t hash);
    // next: the next tick the confirmed game runs; hashes far beyond it are ignored.
    std::optional<int64_t> Theirs(int64_t tick, uint64_t hash, int64_t next);

    // This machine's hashes not yet compared, to send again after the connection dropped.
    const std::map<int64_t, uint64_t>& Uncompared() const { return mine_; }
    // The other machine starts again, in a new program, from this machine's state after tick:
    // hashes up to it need no comparison, and what the program before said no longer counts
    // (it may have run ticks on inputs that never reached this machine).
    void Restart(int64_t tick) {
        mine_.erase(mine_.begin(), mine_.upper_bound(tick));
        theirs_.clear();
    }

    // The last tick whose hash this machine took.
    int64_t HashedTo() const { return hashedTo_; }
    // Every hash of this machine has been compared.
    bool AllCompared() const { return mine_.empty(); }
    long Agreed() const { return agreed_; }

  private:
    std::optional<int64_t> Compare();

    std::map<int64_t, uint64_t> mine_, theirs_;
    int64_t hashedTo_ = 0;
    long agreed_ = 0;
};

}  // namespace net
