#include "net/door.h"

namespace net {
namespace {

// How often this machine's networks are looked at again.
constexpr auto kSubnetsEvery = std::chrono::seconds(5);
// Addresses whose wrong codes are remembered; past this the oldest are forgotten.
constexpr size_t kWrongRemembered = 4096;

}  // namespace

Door::Door(const std::string& code, SendTo sendTo, std::function<std::vector<Subnet>()> subnets)
    : code_(NormalizeCode(code).value_or("")),
      sendTo_(std::move(sendTo)),
      subnetsOf_(std::move(subnets)) {}

void Door::Connected(uint32_t candidate, uint32_t ip, Clock::time_point now) {
    Knocking k;
    k.ip = ip;
    k.since = now;
    if (!SecureRandom(k.nonce.data(), k.nonce.size())) return;  // never admitted then
    knocking_[candidate] = k;
    sendTo_(candidate, Challenge{k.nonce});
}

void Door::Gone(uint32_t candidate) {
    knocking_.erase(candidate);
}

bool Door::OwnNetwork(uint32_t ip, Clock::time_point now) {
    if (IsLoopback(ip)) return true;
    if (subnets_.empty() || now - subnetsAt_ > kSubnetsEvery) {
        subnets_ = subnetsOf_();
        subnetsAt_ = now;
    }
    return OnOwnNetwork(ip, subnets_);
}

Door::Verdict Door::Received(uint32_t candidate, std::span<const uint8_t> bytes,
                             Clock::time_point now) {
    Verdict v;
    auto it = knocking_.find(candidate);
    if (it == knocking_.end()) {
        v.kind = Verdict::Dismiss;
        return v;
    }
    const Knocking k = it->second;
    knocking_.erase(it);
    v.ip = k.ip;
    const auto message = Decode(bytes);
    const Hello* hello = message ? std::get_if<Hello>(&*message) : nullptr;
    if (!hello) {
        // A program of another version is let through, to be told why it cannot play.
        if (auto protocol = HelloProtocol(bytes); protocol && *protocol != kProtocolVersion) {
            v.kind = Verdict::Admit;
            return v;
        }
        ++strangers;
        v.kind = Verdict::Dismiss;
        return v;
    }
    // The proof holds for this connection's challenge only, so a Hello overheard elsewhere is
    // worth nothing even from nearby, where it may prove the empty code.
    const bool nearby = OwnNetwork(k.ip, now);
    if (SameProof(hello->proof, ProveCode(k.nonce, code_)) ||
        (nearby && SameProof(hello->proof, ProveCode(k.nonce, "")))) {
        v.kind = Verdict::Admit;
        return v;
    }
    v.kind = Verdict::Dismiss;
    if (nearby) {
        // Nobody nearby needs a code: this is a replayed Hello. Its address is shared with the
        // players here (this machine, a router's), so it is never shut out.
        ++strangers;
        return v;
    }
    ++wrongCodes;
    v.close = kClosedCode;
    if (wrong_.size() >= kWrongRemembered && !wrong_.contains(k.ip)) wrong_.erase(wrong_.begin());
    if (++wrong_[k.ip] >= kWrongCodesShunned) {
        v.shun = true;
        wrong_.erase(k.ip);
    }
    return v;
}

std::vector<uint32_t> Door::Silent(Clock::time_point now) {
    std::vector<uint32_t> late;
    for (auto it = knocking_.begin(); it != knocking_.end();) {
        if (now - it->second.since > std::chrono::milliseconds(kKnockMs)) {
            late.push_back(it->first);
            it = knocking_.erase(it);
            ++silent;
        } else {
            ++it;
        }
    }
    return late;
}

}  // namespace net
