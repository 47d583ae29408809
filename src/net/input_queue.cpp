#include "net/input_queue.h"

#include <algorithm>
#include <iterator>

namespace net {
namespace {

// How far ahead of the confirmed game an input of the other player may be and still be kept.
constexpr int64_t kKeptAhead = 1024;

}  // namespace

InputQueue::InputQueue(int delay) {
    for (int64_t tick = 1; tick <= delay; ++tick) local_[tick] = remote_[tick] = 0;
    remoteKnown_ = lastLocal_ = peerAck_ = delay;
}

void InputQueue::Resume(int64_t confirmed, const std::vector<uint16_t>& mine,
                        const std::vector<uint16_t>& theirs, uint16_t lastTheirs) {
    local_.clear();
    remote_.clear();
    guessed_.clear();
    for (size_t i = 0; i < mine.size(); ++i) local_[confirmed + 1 + int64_t(i)] = mine[i];
    for (size_t i = 0; i < theirs.size(); ++i) remote_[confirmed + 1 + int64_t(i)] = theirs[i];
    // The host holds this player's inputs it sent back, and none were sent past them.
    lastLocal_ = peerAck_ = confirmed + int64_t(mine.size());
    remoteKnown_ = confirmed + int64_t(theirs.size());
    lastRemote_ = theirs.empty() ? lastTheirs : theirs.back();
}

std::vector<uint16_t> InputQueue::LocalAfter(int64_t tick) const {
    std::vector<uint16_t> out;
    for (auto it = local_.upper_bound(tick); it != local_.end() && it->first == tick + 1; ++it)
        out.push_back(it->second), ++tick;
    return out;
}

std::vector<uint16_t> InputQueue::RemoteAfter(int64_t tick) const {
    std::vector<uint16_t> out;
    for (auto it = remote_.upper_bound(tick);
         it != remote_.end() && it->first == tick + 1 && tick < remoteKnown_; ++it)
        out.push_back(it->second), ++tick;
    return out;
}

void InputQueue::AddLocal(uint16_t mask) {
    local_[++lastLocal_] = mask;
}

std::optional<Inputs> InputQueue::Outgoing(int8_t lead) const {
    auto it = local_.upper_bound(peerAck_);
    if (it == local_.end()) it = std::prev(local_.end(), local_.empty() ? 0 : 1);
    if (it == local_.end()) return std::nullopt;
    Inputs in;
    in.ack = remoteKnown_;
    in.ahead = lead;
    in.first = it->first;
    for (; it != local_.end() && in.masks.size() < kMaxInputsPerPacket; ++it)
        in.masks.push_back(it->second);
    return in;
}

void InputQueue::Receive(const Inputs& in, int64_t next) {
    // An acknowledgement never reaches past what was sent.
    peerAck_ = std::clamp(in.ack, peerAck_, lastLocal_);
    while (!local_.empty() && local_.begin()->first <= std::min(peerAck_, next - 1) &&
           local_.size() > 1)
        local_.erase(local_.begin());
    for (size_t i = 0; i < in.masks.size(); ++i) {
        const int64_t tick = in.first + int64_t(i);
        if (tick <= remoteKnown_ || tick > next + kKeptAhead) continue;
        remote_.emplace(tick, in.masks[i]);  // the first copy stands
    }
    for (auto it = remote_.find(remoteKnown_ + 1);
         it != remote_.end() && it->first == remoteKnown_ + 1; ++it) {
        ++remoteKnown_;
        lastRemote_ = it->second;
    }
}

uint16_t InputQueue::Theirs(int64_t tick) {
    if (tick <= remoteKnown_) return remote_.at(tick);
    const uint16_t theirs = guess ? uint16_t(guess(tick, lastRemote_) & kPlayerMask) : lastRemote_;
    guessed_[tick] = theirs;
    return theirs;
}

InputQueue::Guess InputQueue::Check(int64_t tick) {
    auto it = guessed_.find(tick);
    if (it == guessed_.end()) return {};
    const bool wrong = it->second != remote_.at(tick);
    guessed_.erase(it);
    return {true, wrong};
}

}  // namespace net
