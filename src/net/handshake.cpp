#include "net/handshake.h"

#include <algorithm>

#include "core/field/map.h"
#include "core/flow/game_state.h"
#include "core/flow/main_form.h"
#include "core/screen/graphics_pack.h"
#include "replay/format.h"

namespace net {
namespace {

constexpr int kPings = 8;
constexpr auto kPingGap = std::chrono::milliseconds(25);

uint32_t Ms(std::chrono::steady_clock::duration d) {
    return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

// Ticks of 13 ms that half the round trip takes, rounded up.
int OneWayTicks(uint32_t roundTripMs) {
    return int((roundTripMs / 2 + kdv::kTimerInterval - 1) / kdv::kTimerInterval);
}

// Lockstep's input delay covers the one-way trip and a tick of jitter: D ticks of 13 ms must
// outlast half the round trip, or every tick waits.
int LockstepDelay(uint32_t roundTripMs) {
    return std::clamp(OneWayTicks(roundTripMs) + 1, kMinDelay, kMaxDelay);
}

// Running ahead, each machine waits for the other's input only when it is this far ahead of
// it. When both are as far ahead, the other's input for a tick arrives about the one-way trip
// less the delay after the tick ran; the rest covers jitter and a lost datagram or two.
int WindowFor(uint32_t roundTripMs) {
    return std::clamp(OneWayTicks(roundTripMs) + 3, 8, 16);
}

replay::DataFile FileIdentity(kdv::FileSystem& disk, const char* path) {
    const auto size = disk.Size(path);
    const auto bytes = size ? disk.Read(path, 0, size_t(*size)) : std::nullopt;
    if (!bytes) return {};
    return {bytes->size(), replay::Fnv1a(*bytes)};
}

using Step = Handshake::Step;

Step Make(Step::Kind kind, CloseCode close = kClosedPlain, std::string message = {}) {
    Step step;
    step.kind = kind;
    step.close = close;
    step.message = std::move(message);
    return step;
}

Step Agreed(net::Welcome game) {
    Step step = Make(Step::Agreed);
    step.game = std::move(game);
    return step;
}

}  // namespace

Identity IdentityOf(kdv::FileSystem& disk, const std::string& build) {
    return {build, FileIdentity(disk, kdv::kGraphicsFile), FileIdentity(disk, kdv::kFontFile)};
}

std::vector<uint8_t> LevelRecords(kdv::FileSystem& disk) {
    const auto size = disk.Size(kdv::kLevelFile);
    if (!size) return {};
    const uint64_t whole = *size - *size % kdv::kLevelRecordBytes;
    auto bytes = disk.Read(kdv::kLevelFile, 0, size_t(std::min<uint64_t>(whole, kMaxLevelBytes)));
    if (!bytes) return {};
    bytes->resize(bytes->size() - bytes->size() % kdv::kLevelRecordBytes);
    return *bytes;
}

Handshake::Handshake(bool hosting, Identity identity, Offer offer, Send send, std::string code)
    : hosting_(hosting),
      identity_(std::move(identity)),
      offer_(std::move(offer)),
      send_(std::move(send)),
      code_(std::move(code)) {}

void Handshake::Connected(Clock::time_point now) {
    Reset();
    talking_ = true;
    since_ = now;
}

void Handshake::Reset() {
    talking_ = false;
    helloSeen_ = false;
    helloSent_ = false;
    pings_.clear();
    roundTrips_.clear();
}

bool Handshake::Takes(const std::optional<Message>& message) const {
    if (hosting_ && !helloSeen_) return true;
    return message &&
           (std::holds_alternative<net::Hello>(*message) ||
            std::holds_alternative<Refuse>(*message) || std::holds_alternative<Ping>(*message) ||
            std::holds_alternative<Pong>(*message) ||
            std::holds_alternative<net::Welcome>(*message) ||
            std::holds_alternative<Challenge>(*message));
}

Step Handshake::Receive(std::span<const uint8_t> bytes, const std::optional<Message>& message,
                        Clock::time_point now) {
    if (hosting_ && !helloSeen_) {
        // A program of another version says so in its first bytes, and is told why.
        if (!message) {
            if (auto protocol = HelloProtocol(bytes); protocol && *protocol != kProtocolVersion)
                return RefuseHello(kOtherProtocol, "");
            return Make(Step::TurnAway);
        }
        if (!std::holds_alternative<net::Hello>(*message)) return Make(Step::TurnAway);
    }
    if (!message) return {};
    if (auto* hello = std::get_if<net::Hello>(&*message)) {
        if (hosting_ && talking_ && !helloSeen_) return TakeHello(*hello);
    } else if (auto* refuse = std::get_if<Refuse>(&*message)) {
        if (hosting_ || !talking_) return {};
        talking_ = false;
        refusedWhat_ = refuse->what;
        hostBuild_ = refuse->hostBuild;
        detail_ = MismatchText(refuse->what, refuse->hostBuild, identity_.build, true);
        return Make(Step::Refused, kClosedPlain, "The host refused the game: " + detail_ + ".");
    } else if (auto* challenge = std::get_if<Challenge>(&*message)) {
        // The Hello answers the host's challenge for this connection, and no other.
        if (hosting_ || !talking_ || helloSent_) return {};
        helloSent_ = true;
        net::Hello hello;
        hello.identity = identity_;
        hello.proof = ProveCode(challenge->nonce, code_);
        hello.name = name_;
        hello.game = rejoinGame_;
        hello.token = rejoinToken_;
        hello.keeps = keeps_;
        send_(hello, true);
    } else if (auto* ping = std::get_if<Ping>(&*message)) {
        send_(Pong{ping->sequence}, false);
    } else if (auto* pong = std::get_if<Pong>(&*message)) {
        auto it = pings_.find(pong->sequence);
        if (it != pings_.end()) {
            roundTrips_.push_back(Ms(now - it->second));
            pings_.erase(it);
        }
    } else if (auto* welcome = std::get_if<net::Welcome>(&*message)) {
        if (!hosting_ && talking_) return TakeWelcome(*welcome);
    }
    return {};
}

Step Handshake::TakeHello(const net::Hello& hello) {
    const uint8_t what = hello.protocol != kProtocolVersion ? uint8_t(kOtherProtocol)
                                                            : Mismatches(identity_, hello.identity);
    if (what) return RefuseHello(what, hello.identity.build);
    helloSeen_ = true;
    peerName_ = hello.name;
    return {};
}

// A player whose program or data do not fit is told why; the host waits for another.
Step Handshake::RefuseHello(uint8_t what, const std::string& theirBuild) {
    send_(Refuse{what, identity_.build}, true);
    turnedAwayWhat_ = what;
    turnedAwayBuild_ = theirBuild;
    notice_ =
        "A player could not join: " + MismatchText(what, identity_.build, theirBuild, false) + ".";
    return Make(Step::TurnAway, kClosedRefused);
}

Step Handshake::TakeWelcome(const net::Welcome& welcome) {
    talking_ = false;
    peerName_ = welcome.hostName;
    if (welcome.mode != kdv::gmTwoPlayers && welcome.mode != kdv::gmDuel)
        return Make(Step::Error, kClosedPlain,
                    "The host asked for a game that is neither a two-player game nor a duel.");
    return Agreed(welcome);
}

Step Handshake::Poll(Clock::time_point now) {
    if (!talking_) return {};
    if (hosting_ && now - since_ > std::chrono::milliseconds(kHandshakeMs))
        return Make(Step::TurnAway);
    if (now - since_ > std::chrono::milliseconds(kHandshakeMs)) {
        talking_ = false;
        return Make(Step::NoAnswer, kClosedPlain,
                    "The other machine did not finish the handshake.");
    }
    if (!hosting_ || !helloSeen_) return {};
    // The host measures the round trip, then chooses the delay and starts the game.
    const int sent = int(roundTrips_.size() + pings_.size());
    if (sent < kPings && (pings_.empty() || now - lastPing_ >= kPingGap)) {
        const uint32_t sequence = uint32_t(sent + 1);
        pings_[sequence] = now;
        lastPing_ = now;
        send_(Ping{sequence}, false);
        return {};
    }
    const bool allBack = int(roundTrips_.size()) == kPings;
    const bool waitedEnough = !roundTrips_.empty() && now - since_ > std::chrono::seconds(3);
    if (!allBack && !waitedEnough) return {};
    std::vector<uint32_t> sorted = roundTrips_;
    std::sort(sorted.begin(), sorted.end());
    // The slower end of the measurements, so that jitter seldom stalls the game.
    roundTripMs_ = sorted[sorted.size() * 3 / 4];
    net::Welcome w;
    w.mode = offer_.mode;
    w.stage = offer_.stage;
    w.window =
        uint8_t(offer_.window >= 0 ? std::min(offer_.window, kMaxWindow) : WindowFor(roundTripMs_));
    w.delay = uint8_t(w.window ? kMinDelay : LockstepDelay(roundTripMs_));
    w.ticks = offer_.ticks;
    w.settings = kdv::FormatSettings(offer_.settings);
    w.levels = offer_.levels;
    w.game = offer_.game;
    w.token = offer_.token;
    w.hostName = offer_.name;
    send_(w, true);
    talking_ = false;
    return Agreed(std::move(w));
}

}  // namespace net
