// The session's part in coming back into a game after the connection dropped (rejoin.h): the
// seat kept on disk, the host giving the seat back, the joiner knocking again and taking up
// the game where the host's confirmed game stands.
#include <algorithm>

#include "core/game.h"
#include "net/game_pair.h"
#include "net/input_queue.h"
#include "net/pacing.h"
#include "net/rollback.h"
#include "net/session.h"

namespace net {
namespace {

uint32_t Ms(std::chrono::steady_clock::duration d) {
    return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

}  // namespace

// The host draws the game's identity and the joiner's token; a joiner looks for a seat kept
// for this address, which makes its join a rejoin (with the code it was given then, unless
// given one now).
void Session::OpenSeat() {
    if (o_.hosting) {
        gameId_ = NewGameId();
        token_ = NewToken();
        return;
    }
    seats_ = SeatStore(o_.seatFolder);
    seat_ = seats_.Find(Address());
    if (!seat_) return;
    // Taken at once: a third program of the player's must not use it meanwhile.
    seatLock_ = seats_.Hold(Address());
    if (!seatLock_) {
        seat_.reset();
        return;
    }
    if (o_.inviteCode.empty()) o_.inviteCode = seat_->code;
}

void Session::KeepSeat(const Welcome& w) {
    gameId_ = w.game;
    token_ = w.token;
    if (!seats_.Enabled() || IsZero(w.token)) return;
    Seat seat{Address(), NormalizeCode(o_.inviteCode).value_or(""), w.game, w.token, w.hostName};
    std::string error;
    seatLock_.reset();
    seatKept_ = seats_.Keep(seat, error);
    if (seatKept_) seatLock_ = seats_.Hold(seat.address);
    // The game is played all the same; only coming back after a restart is lost.
    if (!seatKept_) notice_ = "The token to come back into the game was not kept: " + error;
}

// A Hello proving the code came during play: the seat is given back only for this game and
// with the token the host gave; the state follows the Welcome.
void Session::Seated(uint32_t candidate, std::span<const uint8_t> bytes, Clock::time_point now) {
    const std::optional<Message> m = Decode(bytes);
    const Hello* hello = m ? std::get_if<Hello>(&*m) : nullptr;
    if (!hello || IsZero(hello->game) || !welcome_) {
        link_->Dismiss(candidate, kClosedBusy);
        door_->Gone(candidate);
        ++stats_.turnedAway;
        return;
    }
    uint8_t what = hello->protocol != kProtocolVersion ? uint8_t(kOtherProtocol)
                                                       : Mismatches(o_.identity, hello->identity);
    if (!TakesSeat(*hello, gameId_, token_)) what |= kNotThisSeat;
    if (what) {
        link_->SendTo(candidate, Encode(Refuse{what, o_.identity.build}), true);
        link_->Dismiss(candidate, kClosedRefused);
        door_->Gone(candidate);
        ++stats_.seatsRefused;
        notice_ = "A machine that asked for " + PartnerWords() + "'s seat was refused: " +
                  MismatchText(what, o_.identity.build, hello->identity.build, false) + ".";
        return;
    }
    partner_ = link_->CandidateAddress(candidate);
    link_->Replace(candidate);
    door_->Seated();
    lastHeard_ = now;
    ++stats_.rejoins;
    handshake_->Met(hello->name);
    welcome_->hostName = o_.name;
    Send(*welcome_, true);
    const int64_t confirmed = TicksRun();
    MidGame at = games_->Standing();
    Resume r;
    r.tick = confirmed;
    r.ahead = rollback_->Ahead();
    r.state = std::move(at.state);
    r.position = at.position;
    r.gameItem = uint8_t(std::clamp(at.gameItem, 0, 2));
    r.mask = at.mask;
    r.host = inputs_->LocalAfter(confirmed);
    r.joiner = inputs_->RemoteAfter(confirmed);
    Send(r, true);
    if (hello->keeps) {
        // The same program: only what was lost on the way is said again.
        for (const auto& [tick, hash] : hashes_.Uncompared()) Send(Hash{tick, hash}, true);
    } else {
        hashes_.Restart(confirmed);
        inputs_->ForgetBeyondKnown();
    }
    if (leaving_) Send(Stop{Limit()}, true);
    SendInputs(now, true);
}

void Session::TakeResume(const Resume& r, Clock::time_point now) {
    if (awaitingResume_) {
        ResumeGame(r, now);
        return;
    }
    if (!reconnectAt_ || !games_) return;
    // This program still runs the game: it goes on from its own state, and says again what
    // may have been lost while the connection was down.
    reconnectAt_.reset();
    lastHeard_ = now;
    ++stats_.rejoins;
    for (const auto& [tick, hash] : hashes_.Uncompared()) Send(Hash{tick, hash}, true);
    if (leaving_) Send(Stop{Limit()}, true);
    SendInputs(now, true);
}

// A program started again takes up the host's confirmed game and catches up with it.
void Session::ResumeGame(const Resume& r, Clock::time_point now) {
    awaitingResume_ = false;
    const Welcome& w = *welcome_;
    partner_ = Address();
    delay_ = w.delay;
    window_ = w.window;
    KeepSeat(w);
    games_ = std::make_unique<GamePair>();
    if (auto error =
            games_->Resume(SetupFor(w), r.tick, MidGame{r.state, r.position, r.gameItem, r.mask})) {
        End(EndReason::Error, *error);
        return;
    }
    stats_.delay = delay_;
    stats_.window = window_;
    stats_.firstTick = r.tick;
    ++stats_.rejoins;
    inputs_ = std::make_unique<InputQueue>(delay_);
    inputs_->guess = o_.guess;
    inputs_->Resume(r.tick, r.joiner, r.host, uint16_t(r.mask & kPlayerMask));
    rollback_ = std::make_unique<Rollback>(*games_, *inputs_, false, r.tick + 1);
    rollback_->LimitTo(w.ticks);
    phase_ = Phase::Playing;
    pacing_->Start(now, false);
    pacing_->CatchUp(r.ahead);
    cpuStart_ = std::clock();
    SampleLocal(r.tick + 1 + delay_);
    SendInputs(now, true);
}

// The partner's silence: a joiner knocks again after a while, and both give up when the wait
// is over.
void Session::WatchPartner(Clock::time_point now) {
    const uint32_t quiet = Ms(now - lastHeard_);
    if (quiet >= kGiveUpMs) {
        End(EndReason::Lost, "No word from " + PartnerWords() + " for " +
                                 std::to_string(kGiveUpMs / 1000) +
                                 " s: the connection to the other player was lost.");
        return;
    }
    if (o_.hosting) return;  // the joiner knocks again; the host waits to be found
    if (!reconnectAt_ && quiet >= kReconnectAfterMs) reconnectAt_ = now;
    if (!reconnectAt_ || now < *reconnectAt_) return;
    std::string error;
    auto link = Link::Connect(o_.address, error);
    reconnectAt_ = now + std::chrono::milliseconds(kReconnectEveryMs);
    if (!link) return;  // no socket now; perhaps at the next knock
    link_ = std::move(link);
    handshake_->Reset();
    handshake_->Rejoining(gameId_, token_, true);
}

std::string Session::PartnerWords() const {
    const std::string& name = PartnerName();
    return name.empty() ? "the other player" : name;
}

const std::string& Session::PartnerName() const {
    static const std::string none;
    return handshake_ ? handshake_->PeerName() : none;
}

std::string Session::WaitingLine() const {
    if (!Holding()) return {};
    return "Waiting for " + PartnerWords() + " — " + std::to_string(WaitLeftSeconds()) + " s";
}

}  // namespace net
