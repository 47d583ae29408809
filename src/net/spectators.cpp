#include "net/spectators.h"

#include <algorithm>

namespace net {
namespace {

// Inputs go out this often (8 ticks of play), or sooner when a packet's worth is waiting.
constexpr auto kBatchGap = std::chrono::milliseconds(100);
// Packets of inputs a spectator gets in one go: enough to catch up on a game run flat out.
constexpr int kPacketsPerRound = 8;

}  // namespace

Spectators::Spectators(Identity identity, SendTo sendTo, Close close)
    : identity_(std::move(identity)), sendTo_(std::move(sendTo)), close_(std::move(close)) {}

bool Spectators::Take(uint32_t id, const Hello& hello, Clock::time_point) {
    const uint8_t what = hello.protocol != kProtocolVersion ? uint8_t(kOtherProtocol)
                                                            : Mismatches(identity_, hello.identity);
    if (what) {
        sendTo_(id, Refuse{what, identity_.build}, true);
        close_(id, kClosedRefused);
        ++refused;
        return false;
    }
    if (watchers_.size() >= kMaxSpectators) {
        close_(id, kClosedFull);
        ++full;
        return false;
    }
    if (final_) {
        close_(id, kClosedPlain);  // nothing left to watch
        return false;
    }
    watchers_[id] = Watcher{};
    ++admitted;
    most = std::max(most, watchers_.size());
    return true;
}

void Spectators::Received(uint32_t id, const std::vector<uint8_t>& bytes, Clock::time_point) {
    auto it = watchers_.find(id);
    if (it == watchers_.end()) return;
    const auto m = Decode(bytes);
    if (!m) return;
    Watcher& w = it->second;
    if (auto* ack = std::get_if<WatchAck>(&*m)) {
        // Never past what was sent: a spectator cannot hold inputs the game has not run.
        const int64_t last = base_ + int64_t(log_.size()) - 1;
        if (w.started && ack->tick > w.acked) w.acked = std::min(ack->tick, last);
    } else if (std::holds_alternative<Bye>(*m)) {
        close_(id, kClosedPlain);
        watchers_.erase(it);
    }
}

void Spectators::Gone(uint32_t id) {
    watchers_.erase(id);
}

void Spectators::Begin(const Welcome& game, const std::string& host) {
    Watch w;
    w.mode = game.mode;
    w.stage = game.stage;
    w.ticks = game.ticks;
    w.settings = game.settings;
    w.levels = game.levels;
    w.host = host.substr(0, kMaxText);
    game_ = std::move(w);
    log_.clear();
    base_ = 1;
}

void Spectators::End(int64_t final, const std::string& reason) {
    if (final_) return;
    final_ = final;
    reason_ = reason;
    endedAt_ = Clock::now();
}

bool Spectators::Finishing(Clock::time_point now) const {
    return final_ && !watchers_.empty() &&
           now - endedAt_ < std::chrono::milliseconds(kSpectatorFinishMs);
}

void Spectators::Start(uint32_t id, Watcher& w, const Now& game) {
    Watch start = *game_;
    start.from = game.tick;
    if (game.tick > 0 && game.state) game.state(start);
    sendTo_(id, start, true);
    w.started = true;
    w.from = w.acked = game.tick;
}

void Spectators::SendInputs(uint32_t id, Watcher& w, Clock::time_point now, int64_t last) {
    const uint8_t count = uint8_t(watchers_.size());
    int64_t next = w.acked + 1;
    for (int packet = 0; packet < kPacketsPerRound && (next <= last || packet == 0); ++packet) {
        WatchInputs in;
        in.first = next;
        in.watching = count;
        const int64_t n = std::min<int64_t>(last - next + 1, int64_t(kMaxWatchInputs));
        for (int64_t t = next; t < next + n; ++t) in.masks.push_back(log_[size_t(t - base_)]);
        next += std::max<int64_t>(n, 0);
        sendTo_(id, in, false);
    }
    w.lastSent = now;
    w.toldCount = count;
}

std::optional<Spectators::Clock::time_point> Spectators::ReachedAfter(int64_t tick) const {
    for (const auto& [reached, when] : marks_)
        if (reached > tick) return when;
    return std::nullopt;
}

void Spectators::Trim(int64_t confirmed) {
    int64_t keepFrom = confirmed + 1;
    for (const auto& [id, w] : watchers_)
        if (w.started) keepFrom = std::min(keepFrom, w.acked + 1);
    while (base_ < keepFrom && !log_.empty()) {
        log_.pop_front();
        ++base_;
    }
    while (!marks_.empty() && marks_.front().first < keepFrom) marks_.pop_front();
}

void Spectators::Poll(Clock::time_point now, const Now& game) {
    if (watchers_.empty()) {
        marks_.clear();
        Trim(base_ + int64_t(log_.size()) - 1);
        return;
    }
    const int64_t last = base_ + int64_t(log_.size()) - 1;
    if (marks_.empty() || marks_.back().first < last) marks_.emplace_back(last, now);
    for (auto it = watchers_.begin(); it != watchers_.end();) {
        const uint32_t id = it->first;
        Watcher& w = it->second;
        if (!w.started && game_ && game.running && !final_) Start(id, w, game);
        if (!w.started) {
            if (final_) {
                // The game ended before it began: there is nothing to watch.
                sendTo_(id, Bye{0, reason_}, true);
                close_(id, kClosedPlain);
                it = watchers_.erase(it);
                continue;
            }
            ++it;
            continue;
        }
        const bool due = now - w.lastSent >= kBatchGap;
        const bool plenty = last - w.acked >= int64_t(kMaxWatchInputs);
        if ((w.acked < last && (due || plenty)) || (due && w.toldCount != watchers_.size()))
            SendInputs(id, w, now, last);
        if (final_ && !w.byeSent) {
            sendTo_(id, Bye{*final_, reason_}, true);
            w.byeSent = true;
        }
        if (final_ && (w.acked >= *final_ ||
                       now - endedAt_ >= std::chrono::milliseconds(kSpectatorFinishMs))) {
            close_(id, kClosedPlain);
            it = watchers_.erase(it);
            continue;
        }
        if (!final_ && w.acked < last) {
            const auto reached = ReachedAfter(w.acked);
            if (reached && now - *reached > std::chrono::milliseconds(kSpectatorLagMs)) {
                // Never waited for: it watches no more.
                close_(id, kClosedSlow);
                ++dropped;
                it = watchers_.erase(it);
                continue;
            }
        }
        ++it;
    }
    Trim(last);
}

}  // namespace net
