#include "net/session.h"

#include <algorithm>

#include "core/field/map.h"
#include "core/game.h"
#include "net/game_pair.h"
#include "net/input_queue.h"
#include "net/pacing.h"
#include "net/rollback.h"
#include "net/spectators.h"
#include "replay/recorder.h"

namespace net {
namespace {

constexpr auto kResendGap = std::chrono::milliseconds(8);
constexpr auto kFinishMs = std::chrono::milliseconds(kGiveUpMs);
constexpr int kMaxMessagesPerPoll = 512;

const std::string kNothing;

double CpuSecondsSince(std::clock_t start) {
    return double(std::clock() - start) / CLOCKS_PER_SEC;
}

uint32_t Ms(std::chrono::steady_clock::duration d) {
    return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

}  // namespace

Session::Session(Options options)
    : o_(std::move(options)),
      pacing_(std::make_unique<Pacing>(o_.paced, o_.polledEachTick, o_.keepTickIntervals)) {}

// A session dropped in the middle still says goodbye, so the other machine stops at once.
Session::~Session() {
    Quit();
}

bool Session::Open(std::string& error) {
    Offer offer{o_.mode, o_.stage, o_.ticks, o_.window, o_.settings, {}, {}, {}, o_.name};
    OpenSeat();
    offer.game = gameId_;
    offer.token = token_;
    if (o_.hosting) {
        offer.levels = LevelRecords(*o_.disk);
        const long stages = long(offer.levels.size() / kdv::kLevelRecordBytes) - 1;
        if (o_.stage < 1 || o_.stage > std::max(0L, stages)) {
            error = "stage " + std::to_string(o_.stage) + " is not in the level file (it holds " +
                    std::to_string(std::max(0L, stages)) + " stages)";
            return false;
        }
    }
    handshake_ = std::make_unique<Handshake>(
        o_.hosting, o_.identity, std::move(offer),
        [this](const Message& m, bool reliable) { Send(m, reliable); },
        o_.hosting ? "" : NormalizeCode(o_.inviteCode).value_or(""));
    handshake_->Introduce(o_.name);
    if (seat_) handshake_->Rejoining(seat_->game, seat_->token, false);
    link_ = o_.hosting ? Link::Listen(o_.address, error) : Link::Connect(o_.address, error);
    if (!link_) return false;
    if (o_.hosting) {
        door_ = std::make_unique<Door>(o_.inviteCode, [this](uint32_t candidate, const Message& m) {
            link_->SendTo(candidate, Encode(m), true);
        });
        spectators_ = std::make_unique<Spectators>(
            o_.identity,
            [this](uint32_t id, const Message& m, bool reliable) {
                link_->SendTo(id, Encode(m), reliable);
            },
            [this](uint32_t id, CloseCode why) { link_->Dismiss(id, why, why == kClosedSlow); });
    }
    opened_ = phaseSince_ = lastHeard_ = Clock::now();
    return true;
}

void Session::Send(const Message& m, bool reliable) {
    // Knocking again, a joiner says only its part of the handshake until it is back in: the
    // host takes nothing else from a machine that has not proved itself.
    if (reconnectAt_ && !std::holds_alternative<Hello>(m) && !std::holds_alternative<Pong>(m))
        return;
    link_->Send(Encode(m), reliable);
}

void Session::End(EndReason reason, std::string message) {
    if (phase_ == Phase::Ended) return;
    const bool failed =
        reason != EndReason::Over && reason != EndReason::Left && reason != EndReason::PeerLeft;
    reason_ = reason;
    if (phase_ == Phase::Playing) {
        playEnd_ = Clock::now();
        stats_.cpuSeconds = CpuSecondsSince(cpuStart_);
    }
    phase_ = Phase::Ended;
    failed_ = failed;
    endMessage_ = std::move(message);
    if (spectators_) spectators_->End(TicksRun(), failed ? endMessage_ : "");
    reconnectAt_.reset();
    if (seatKept_ || seat_) seats_.Forget(Address());
    seatLock_.reset();
    if (link_ && link_->Connected()) {
        if (!sentBye_) Send(Bye{TicksRun(), failed ? endMessage_ : ""}, true);
        sentBye_ = true;
        link_->Flush();
        link_->Disconnect();
    }
}

void Session::Leave() {
    if ((phase_ == Phase::Playing || phase_ == Phase::Finishing) && Holding()) {
        // Nobody hears a Stop: giving up the wait ends the game here and now.
        End(EndReason::Left, "You stopped waiting for " + PartnerWords() + ".");
        return;
    }
    if (phase_ == Phase::Playing) {
        leaving_ = true;
        // This player's input is sent up to here and no further: both games can reach it.
        const int64_t last = inputs_->LastLocal();
        StopAt(last);
        Send(Stop{last}, true);
    } else if (phase_ == Phase::Finishing) {
        leaving_ = true;  // the end is agreed already
    } else {
        End(EndReason::Left, "You left the network game.");
    }
}

void Session::Quit() {
    End(EndReason::Left, "You left the network game.");
}

int64_t Session::Limit() const {
    return rollback_ ? rollback_->Limit() : 0;
}

void Session::StopAt(int64_t final) {
    if (final < TicksRun()) {
        // Both games hold the same inputs, so neither can have run past the other's last one.
        End(EndReason::Error, "The other player stopped at tick " + std::to_string(final) +
                                  ", which this game had passed.");
        return;
    }
    if (Limit() == 0 || final < Limit()) rollback_->LimitTo(final);
    // The last tick ran already: its state is compared now, as any last tick's is.
    if (TicksRun() == Limit() && hashes_.HashedTo() < Limit()) SendHash(Limit());
}

void Session::Poll(uint32_t waitMs) {
    if (!link_) return;
    if (phase_ == Phase::Playing) {
        const bool couldRun = rollback_->Ahead() + 1 - inputs_->RemoteKnown() <= window_;
        waitMs = pacing_->WaitMs(Clock::now(), waitMs, couldRun);
    }
    for (int i = 0; i < kMaxMessagesPerPoll; ++i) {
        Link::Event e = link_->Service(i == 0 ? waitMs : 0);
        if (e.kind == Link::Event::None) break;
        const auto now = Clock::now();
        if (e.watcher) {
            // Spectators are served after the game too, until they hold its end.
            if (e.kind == Link::Event::Disconnected)
                spectators_->Gone(e.candidate);
            else
                spectators_->Received(e.candidate, e.bytes, now);
            continue;
        }
        if (phase_ == Phase::Ended) continue;  // only the goodbye is still going out
        if (e.candidate) {
            Knocked(e, now);
        } else if (e.kind == Link::Event::Connected && reconnectAt_) {
            // The game goes on; the handshake brings it back, in the time a handshake has.
            handshake_->Connected(now);
            reconnectAt_ = now + std::chrono::milliseconds(kHandshakeMs);
        } else if (e.kind == Link::Event::Connected) {
            lastHeard_ = now;
            if (o_.hosting) partner_ = link_->PartnerAddress();
            handshake_->Connected(now);
            phase_ = Phase::Handshake;
            phaseSince_ = now;
        } else if (e.kind == Link::Event::Disconnected) {
            Closed(e.code, now);
            if (busy_.Waiting()) break;  // this link is done with
        } else {
            Received(e.bytes, now);
        }
    }
    if (phase_ == Phase::Ended) {
        ServeSpectators(Clock::now());
        return;
    }
    const auto now = Clock::now();
    if (busy_.Due(now)) {
        // Knocks again on a host that was busy.
        std::string error;
        link_ = Link::Connect(o_.address, error);
        if (!link_) {
            End(EndReason::NoAnswer, error);
            return;
        }
        ++stats_.retries;
        opened_ = phaseSince_ = now;
        phase_ = Phase::Connecting;
        handshake_->Reset();
    }
    switch (phase_) {
        case Phase::Connecting:
            if (o_.hosting) {
                if (o_.waitForPeerMs && now - opened_ > std::chrono::milliseconds(o_.waitForPeerMs))
                    End(EndReason::NobodyJoined, "Nobody joined the game.");
            } else if (!busy_.Waiting() && now - opened_ > std::chrono::milliseconds(kConnectMs)) {
                End(EndReason::NoAnswer, "No answer from " + o_.address.host + ":" +
                                             std::to_string(o_.address.port) + ".");
            }
            break;
        case Phase::Handshake:
            Follow(handshake_->Poll(now), now);
            if (awaitingResume_ && now - phaseSince_ > std::chrono::milliseconds(kHandshakeMs))
                End(EndReason::NoAnswer, "The host did not send the game to come back into.");
            break;
        case Phase::Playing:
            if (!o_.hosting && !reconnectAt_) stats_.roundTripMs = link_->RoundTrip();
            RunDue(now);
            SendInputs(now, false);
            break;
        case Phase::Finishing:
            SendInputs(now, false);
            CheckFinished(now);
            break;
        case Phase::Ended:
            break;
    }
    if (phase_ == Phase::Playing || phase_ == Phase::Finishing) WatchPartner(now);
    if (o_.hosting) {
        // A machine that connects and says nothing holds nothing for long, whenever it comes.
        for (uint32_t late : door_->Silent(now)) {
            if (link_->Dismiss(late, kClosedLate)) ++stats_.turnedAway;
            if (phase_ == Phase::Connecting)
                notice_ = "A connection that said nothing was turned away.";
        }
    }
    ServeSpectators(now);
    if (link_) link_->Flush();
}

void Session::ServeSpectators(Clock::time_point now) {
    if (!spectators_) return;
    Spectators::Now game;
    if (games_ && rollback_) {
        game.running = true;
        game.tick = TicksRun();
        // In the middle: the confirmed game as it stands, with what its level dialog holds (a
        // dump shows it) and the input its last tick read.
        game.state = [this](Watch& start) {
            MidGame at = games_->Standing();
            start.state = std::move(at.state);
            start.position = at.position;
            start.gameItem = at.gameItem;
            start.mask = at.mask;
        };
    }
    spectators_->Poll(now, game);
    if (phase_ == Phase::Ended && link_) link_->Flush();
}

void Session::Received(const std::vector<uint8_t>& bytes, Clock::time_point now) {
    const std::optional<Message> m = Decode(bytes);
    // While knocking again, the host's challenge says nothing of the other player's game.
    if (m && !reconnectAt_) lastHeard_ = now;
    if (handshake_->Takes(m))
        Follow(handshake_->Receive(bytes, m, now), now);
    else if (m)
        Handle(*m, now);
}

void Session::Follow(const Handshake::Step& step, Clock::time_point now) {
    switch (step.kind) {
        case Handshake::Step::Going:
            break;
        case Handshake::Step::TurnAway:
            TurnAway(now, step.close);
            if (!handshake_->Notice().empty()) notice_ = handshake_->Notice();
            break;
        case Handshake::Step::Refused:
            End(EndReason::RefusedByHost, step.message);
            break;
        case Handshake::Step::NoAnswer:
            End(EndReason::NoAnswer, step.message);
            break;
        case Handshake::Step::Error:
            End(EndReason::Error, step.message);
            break;
        case Handshake::Step::Agreed:
            if (o_.hosting) {
                link_->Flush();
                stats_.roundTripMs = handshake_->RoundTripMs();
            }
            if (!o_.hosting && games_ && step.game.game != gameId_) {
                End(EndReason::Lost, "The host no longer plays this game.");
                break;
            }
            if (!o_.hosting && (games_ || (seat_ && step.game.game == seat_->game))) {
                // Back into the game: the state follows (a joiner that still runs the game
                // keeps its own).
                welcome_ = step.game;
                awaitingResume_ = !games_;
                break;
            }
            StartGame(step.game);
            break;
    }
}

// The other side closed the connection; code says why, when it is the host before a game.
void Session::Closed(uint32_t code, Clock::time_point now) {
    if (o_.hosting && (phase_ == Phase::Connecting || phase_ == Phase::Handshake)) {
        TurnAway(now, kClosedPlain);  // gone before the game began: wait for another
    } else if (!o_.hosting && (phase_ == Phase::Connecting || phase_ == Phase::Handshake) &&
               (code == kClosedBusy || code == kClosedLate)) {
        // Someone else holds the host's slot for now; it is given up within seconds.
        if (!busy_.TurnedAway(now)) End(EndReason::Busy, "The host is busy with another player.");
    } else if (!o_.hosting && code == kClosedCode &&
               (phase_ == Phase::Connecting || phase_ == Phase::Handshake)) {
        End(EndReason::WrongCode,
            "The host refused the game: the invite code is missing or wrong.");
    } else if (!o_.hosting && phase_ == Phase::Connecting) {
        End(EndReason::NoAnswer,
            "No answer from " + o_.address.host + ":" + std::to_string(o_.address.port) + ".");
    } else if (phase_ == Phase::Finishing && peerFinal_ >= 0) {
        EndTogether();
    } else if (phase_ == Phase::Playing || phase_ == Phase::Finishing) {
        // The game holds for the player to come back; a joiner knocks again by itself.
        if (!o_.hosting && !reconnectAt_) reconnectAt_ = now;
    } else if (awaitingResume_) {
        End(EndReason::NoAnswer, "The host closed the connection before the game was resumed.");
    } else {
        End(EndReason::Lost, "The connection to the other player was lost.");
    }
}

// The messages of the game in progress; the handshake takes the others.
void Session::Handle(const Message& m, Clock::time_point now) {
    const bool playing = phase_ == Phase::Playing || phase_ == Phase::Finishing;
    if (auto* resume = std::get_if<Resume>(&m)) {
        if (!o_.hosting) TakeResume(*resume, now);
    } else if (auto* in = std::get_if<Inputs>(&m)) {
        if (!playing) return;
        pacing_->Heard(Clock::now(), in->ahead, stats_.roundTripMs);
        inputs_->Receive(*in, TicksRun() + 1);
    } else if (auto* hash = std::get_if<Hash>(&m)) {
        if (!playing) return;
        if (auto tick = hashes_.Theirs(hash->tick, hash->hash, TicksRun() + 1)) Apart(*tick);
    } else if (auto* stop = std::get_if<Stop>(&m)) {
        if (!playing) return;
        peerLeft_ = true;
        StopAt(stop->final);
    } else if (auto* bye = std::get_if<Bye>(&m)) {
        if (phase_ == Phase::Finishing || (Limit() && bye->final >= Limit())) {
            peerFinal_ = bye->final;
            CheckFinished(now);
        } else if (!bye->reason.empty()) {
            End(EndReason::Error, "The other player's game stopped: " + bye->reason);
        } else {
            End(EndReason::PeerLeft, "The other player left the game.");
        }
    }
}

// A machine that is not the partner: the first to say a valid Hello becomes it.
void Session::Knocked(const Link::Event& e, Clock::time_point now) {
    if (e.kind == Link::Event::Connected) {
        door_->Connected(e.candidate, link_->CandidateIp(e.candidate), now);
        return;
    }
    if (e.kind == Link::Event::Disconnected) {
        door_->Gone(e.candidate);
        return;
    }
    const Door::Verdict verdict = door_->Received(e.candidate, e.bytes, now);
    if (verdict.kind == Door::Verdict::Dismiss) {
        link_->Dismiss(e.candidate, verdict.close);
        ++stats_.turnedAway;
        if (verdict.close == kClosedCode) {
            notice_ = "A player gave a wrong invite code.";
            // Guessing codes costs this address its voice for a while.
            if (verdict.shun) link_->Shun(verdict.ip, now + kShunFor);
        } else {
            notice_ = "A connection that was no player was turned away.";
        }
        return;
    }
    if (verdict.kind != Door::Verdict::Admit) return;
    const auto hello = Decode(e.bytes);
    const Hello* said = hello ? std::get_if<Hello>(&*hello) : nullptr;
    if (said && said->role == Role::Spectator) {
        if (spectators_->Take(e.candidate, *said, now)) link_->Keep(e.candidate);
        return;
    }
    if (phase_ == Phase::Handshake || phase_ == Phase::Ended) {
        // The seat is being taken, or the game is over: a player who comes now hears so.
        link_->Dismiss(e.candidate, kClosedBusy);
        ++stats_.turnedAway;
        return;
    }
    if (phase_ != Phase::Connecting) {
        Seated(e.candidate, e.bytes, now);  // only the player who dropped out may come in
        return;
    }
    partner_ = link_->CandidateAddress(e.candidate);
    link_->Admit(e.candidate);
    door_->Seated();
    lastHeard_ = now;
    handshake_->Connected(now);
    phase_ = Phase::Handshake;
    phaseSince_ = now;
    Received(e.bytes, now);
}

// The host drops whoever holds its slot without a game and waits for another.
void Session::TurnAway(Clock::time_point now, CloseCode why) {
    if (link_->Connected()) ++stats_.turnedAway;
    link_->DropPartner(why);
    partner_.clear();  // whoever comes next is the partner
    phase_ = Phase::Connecting;
    phaseSince_ = now;
    handshake_->Reset();
}

void Session::StartGame(const Welcome& w) {
    // The joiner names the host as it was asked to; the host knew the joiner when it connected.
    if (!o_.hosting) partner_ = Address();
    delay_ = w.delay;
    window_ = w.window;
    welcome_ = w;
    if (!o_.hosting) KeepSeat(w);
    games_ = std::make_unique<GamePair>();
    if (auto error = games_->Start(SetupFor(w))) {
        End(EndReason::Error, *error);
        return;
    }
    stats_.delay = delay_;
    stats_.window = window_;
    inputs_ = std::make_unique<InputQueue>(delay_);
    inputs_->guess = o_.guess;
    rollback_ = std::make_unique<Rollback>(*games_, *inputs_, o_.hosting);
    rollback_->LimitTo(w.ticks);
    if (spectators_) spectators_->Begin(w, o_.name);
    phase_ = Phase::Playing;
    const auto now = Clock::now();
    // The joiner starts when the Welcome arrives, the host when the joiner's first inputs do.
    pacing_->Start(now, o_.hosting);
    cpuStart_ = std::clock();
    SampleLocal(1 + delay_);
    SendInputs(now, true);
}

GameSetup Session::SetupFor(const Welcome& w) const {
    GameSetup setup;
    setup.disk = o_.disk;
    setup.settings = w.settings;
    setup.levels = w.levels;
    setup.mode = w.mode;
    setup.stage = w.stage;
    setup.display = o_.display;
    setup.sound = o_.sound;
    setup.input = o_.input;
    setup.jolts = o_.settings.forceFeedback;
    setup.hash = o_.hash;
    return setup;
}

void Session::SampleLocal(int64_t upTo) {
    if (Limit()) upTo = std::min(upTo, Limit());  // nothing past the agreed end is played
    while (inputs_->LastLocal() < upTo) {
        const int64_t tick = inputs_->LastLocal() + 1;
        if (o_.beforeInput) o_.beforeInput(tick);
        uint16_t mask = 0;
        if (o_.input) {
            o_.input->Update();
            mask = uint16_t(replay::BindingMask(o_.settings, *o_.input) & kPlayerMask);
        }
        inputs_->AddLocal(mask);
        newLocal_ = true;
    }
}

void Session::SendInputs(Clock::time_point now, bool force) {
    if (!force && !newLocal_ && now - lastSent_ < kResendGap) return;
    auto in = inputs_->Outgoing(pacing_->Lead());
    if (!in) return;
    Send(*in, false);
    lastSent_ = now;
    newLocal_ = false;
}

void Session::RunDue(Clock::time_point now) {
    Confirm();
    for (int n = 0; n < o_.ticksPerPoll && phase_ == Phase::Playing; ++n) {
        const int64_t limit = Limit();
        if (limit && TicksRun() >= limit) {
            phase_ = Phase::Finishing;
            phaseSince_ = now;
            if (rollback_->Ahead() < limit || playEnd_ < pacing_->PlayStart()) playEnd_ = now;
            stats_.cpuSeconds = CpuSecondsSince(cpuStart_);
            SendInputs(now, true);
            CheckFinished(now);
            return;
        }
        if (limit && rollback_->Ahead() >= limit) return;  // the end waits for its confirmation
        const int64_t tick = rollback_->Ahead() + 1;
        if (!pacing_->Due(now, tick)) return;
        SampleLocal(tick + delay_);
        const int64_t lead = tick - inputs_->RemoteKnown();
        if (lead > window_) {
            pacing_->Waiting();
            return;
        }
        pacing_->Ticking(now, tick, lead);
        const auto work = Clock::now();
        rollback_->Advance();
        if (limit && tick >= limit) playEnd_ = now;  // the last tick is on screen
        Confirm();
        stats_.tickSeconds += std::chrono::duration<double>(Clock::now() - work).count();
        pacing_->Ticked(now);
    }
}

void Session::Confirm() {
    rollback_->Confirm(o_.correctAlways, [this](int64_t tick) { return Confirmed(tick); });
}

bool Session::Confirmed(int64_t tick) {
    if (auto failure = games_->Failure()) {
        End(EndReason::Error, "An error ended the game: " + *failure);
        return false;
    }
    if (spectators_) spectators_->Append(games_->ConfirmedMask());
    if (o_.afterTick) o_.afterTick(tick, *games_->Confirmed());
    if (tick % kHashPeriod == 0 || tick == Limit()) SendHash(tick);
    return phase_ == Phase::Playing;
}

void Session::SendHash(int64_t tick) {
    const uint64_t h = games_->Checksum(tick, false);
    Send(Hash{tick, h}, true);
    if (auto apart = hashes_.Mine(tick, h)) Apart(*apart);
}

void Session::Apart(int64_t tick) {
    End(EndReason::Apart, "The two games went apart at tick " + std::to_string(tick) +
                              ": their states differ. The game was stopped, and both machines "
                              "wrote their replays for the report.");
}

void Session::CheckFinished(Clock::time_point now) {
    if (phase_ != Phase::Finishing) return;
    // Done when the peer holds every input it needs and the last hashes agreed.
    if (inputs_->PeerAck() >= Limit() && hashes_.AllCompared()) {
        if (!sentBye_) {
            Send(Bye{TicksRun(), ""}, true);
            sentBye_ = true;
        }
        if (peerFinal_ >= Limit()) EndTogether();
    }
    if (phase_ == Phase::Finishing && now - phaseSince_ > kFinishMs)
        End(EndReason::Lost, "The other player did not confirm the end of the game.");
}

// Both games ran to the agreed last tick and agreed on it.
void Session::EndTogether() {
    if (leaving_)
        End(EndReason::Left, "You left the network game.");
    else if (peerLeft_)
        End(EndReason::PeerLeft, "The other player left the game.");
    else
        End(EndReason::Over, "The game is over.");
}

uint32_t Session::QuietMs() const {
    if (phase_ != Phase::Playing && phase_ != Phase::Finishing) return 0;
    const uint32_t quiet = Ms(Clock::now() - lastHeard_);
    return quiet > kQuietMs ? quiet : 0;
}

uint32_t Session::WaitLeftSeconds() const {
    const uint32_t quiet = QuietMs();
    if (!quiet) return 0;
    // Past the wait, the game gives up at its next poll; read in between, the count stays on
    // its last second rather than showing 0.
    return quiet >= kGiveUpMs ? 1 : (kGiveUpMs - quiet + 999) / 1000;
}

std::string Session::Status() const {
    switch (phase_) {
        case Phase::Connecting:
            // Who was turned away is told apart (Notice), counted rather than a line each.
            if (o_.hosting)
                return "Waiting for a player to join on port " + std::to_string(o_.address.port) +
                       "…";
            return busy_.Waiting() ? "The host is busy; knocking again…" : "Connecting…";
        case Phase::Handshake:
            return "Connected; agreeing on the game…";
        case Phase::Playing:
        case Phase::Finishing:
            return WaitingLine();
        case Phase::Ended:
            return endMessage_;
    }
    return {};
}

std::string Session::Address() const {
    if (!partner_.empty()) return partner_;
    const std::string port = std::to_string(o_.address.port);
    return o_.hosting ? "port " + port : o_.address.host + ":" + port;
}

std::string Session::Ending() const {
    const std::string address = Address();
    if (endMessage_.find(address) != std::string::npos) return endMessage_;
    return address + ": " + endMessage_;
}

kdv::Game* Session::Game() {
    return games_ ? games_->Confirmed() : nullptr;
}

const kdv::Game* Session::Shown() const {
    return games_ ? games_->Shown() : nullptr;
}

int64_t Session::TicksRun() const {
    return rollback_ ? rollback_->Confirmed() : 0;
}

size_t Session::Watching() const {
    return spectators_ ? spectators_->Count() : 0;
}

bool Session::SpectatorsFinishing() const {
    return spectators_ && spectators_->Finishing(Clock::now());
}

const std::string& Session::Detail() const {
    return handshake_ ? handshake_->Detail() : kNothing;
}

uint8_t Session::RefusedWhat() const {
    return handshake_ ? handshake_->RefusedWhat() : 0;
}

const std::string& Session::HostBuild() const {
    return handshake_ ? handshake_->HostBuild() : kNothing;
}

const std::string& Session::Notice() const {
    return notice_;
}

uint8_t Session::TurnedAwayWhat() const {
    return handshake_ ? handshake_->TurnedAwayWhat() : 0;
}

const std::string& Session::TurnedAwayBuild() const {
    return handshake_ ? handshake_->TurnedAwayBuild() : kNothing;
}

Stats Session::GetStats() const {
    Stats s = stats_;
    s.stalls = pacing_->Stalls();
    s.stalledSeconds = pacing_->StalledSeconds();
    s.tickIntervalsMs = pacing_->TickIntervalsMs();
    s.hashChecks = hashes_.Agreed();
    if (rollback_) {
        s.rollbacks = rollback_->Rollbacks();
        s.ticksRunAgain = rollback_->TicksRunAgain();
    }
    if (phase_ == Phase::Playing) s.cpuSeconds = CpuSecondsSince(cpuStart_);
    s.ticks = TicksRun();
    if (link_) {
        s.strangers = link_->strangers;
        s.unheard = link_->unheard;
        s.turnedAway += link_->crowdedOut;
    }
    if (door_) {
        s.strangers += door_->strangers;
        s.wrongCodes = door_->wrongCodes;
    }
    if (spectators_) {
        s.spectators = spectators_->admitted;
        s.mostWatching = long(spectators_->most);
        s.spectatorsFull = spectators_->full;
        s.spectatorsDropped = spectators_->dropped;
    }
    if (phase_ == Phase::Playing || phase_ == Phase::Finishing || phase_ == Phase::Ended) {
        const auto end = (phase_ == Phase::Playing) ? Clock::now() : playEnd_;
        if (end > pacing_->PlayStart())
            s.playSeconds = std::chrono::duration<double>(end - pacing_->PlayStart()).count();
    }
    return s;
}

std::optional<replay::Replay> Session::Recording() const {
    auto r = games_ ? games_->Recording() : std::nullopt;
    if (!r) return std::nullopt;
    r->header.side = o_.hosting ? replay::Side::Host : replay::Side::Joiner;
    r->header.partner = partner_;
    return r;
}

}  // namespace net
