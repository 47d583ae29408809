#include "net/hash_check.h"

namespace net {
namespace {

// How far ahead of the confirmed game the other's hash may be, and how many are kept.
constexpr int64_t kKeptAhead = 1024;

}  // namespace

std::optional<int64_t> HashCheck::Mine(int64_t tick, uint64_t hash) {
    mine_[tick] = hash;
    hashedTo_ = tick;
    return Compare();
}

std::optional<int64_t> HashCheck::Theirs(int64_t tick, uint64_t hash, int64_t next) {
    if (tick < 1 || tick > next + kKeptAhead || theirs_.size() > size_t(kKeptAhead))
        return std::nullopt;
    theirs_.emplace(tick, hash);
    return Compare();
}

std::optional<int64_t> HashCheck::Compare() {
    for (auto it = mine_.begin(); it != mine_.end();) {
        auto other = theirs_.find(it->first);
        if (other == theirs_.end()) {
            ++it;
            continue;
        }
        if (other->second != it->second) return it->first;
        ++agreed_;
        theirs_.erase(other);
        it = mine_.erase(it);
    }
    return std::nullopt;
}

}  // namespace net
