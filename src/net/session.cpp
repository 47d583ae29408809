#include "net/session.h"

#include <algorithm>
#include <cmath>

#include "adapters/virtual_devices.h"
#include "core/dialogs/dialogs.h"
#include "core/field/map.h"
#include "core/flow/game_flow.h"
#include "core/flow/game_state.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "core/screen/graphics_pack.h"
#include "net/shown_game.h"
#include "recording/recorded_game.h"
#include "replay/recorder.h"

namespace net {
namespace {

constexpr int kPings = 8;
constexpr auto kPingGap = std::chrono::milliseconds(25);
constexpr auto kTick = std::chrono::milliseconds(kdv::kTimerInterval);
constexpr auto kResendGap = std::chrono::milliseconds(8);
constexpr auto kFinishMs = std::chrono::milliseconds(kGiveUpMs);
constexpr int kMaxMessagesPerPoll = 512;
// How far ahead of the game a peer's input or hash may be and still be kept.
constexpr int64_t kWindow = 1024;

double CpuSecondsSince(std::clock_t start) {
    return double(std::clock() - start) / CLOCKS_PER_SEC;
}

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

}  // namespace

namespace {

replay::DataFile FileIdentity(kdv::FileSystem& disk, const char* path) {
    const auto size = disk.Size(path);
    const auto bytes = size ? disk.Read(path, 0, size_t(*size)) : std::nullopt;
    if (!bytes) return {};
    return {bytes->size(), replay::Fnv1a(*bytes)};
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

// The graphics, font and sound from disk; the settings and the level records are the host's,
// from memory; nothing is written.
class Session::Files : public kdv::FileSystem {
  public:
    Files(kdv::FileSystem& disk, const std::string& settings, const std::vector<uint8_t>& levels)
        : disk_(disk), settings_(settings.begin(), settings.end()), levels_(levels) {}
    bool CanOpen(const std::string& path) override { return Held(path) || disk_.CanOpen(path); }
    std::optional<uint64_t> Size(const std::string& path) override {
        if (auto* held = Held(path)) return held->size();
        return disk_.Size(path);
    }
    std::optional<std::vector<uint8_t>> Read(const std::string& path, uint64_t offset,
                                             size_t length) override {
        const std::vector<uint8_t>* held = Held(path);
        if (!held) return disk_.Read(path, offset, length);
        if (offset >= held->size()) return std::vector<uint8_t>{};
        const size_t n = size_t(std::min<uint64_t>(length, held->size() - offset));
        return std::vector<uint8_t>(held->begin() + long(offset), held->begin() + long(offset + n));
    }
    void Append(const std::string& path, const std::vector<uint8_t>&) override {
        throw kdv::FileError("\"" + path + "\" is not written during a network game");
    }
    bool Replace(const std::string&, const std::vector<uint8_t>&) override { return true; }

  private:
    const std::vector<uint8_t>* Held(const std::string& path) const {
        if (path == kdv::kSettingsFile) return &settings_;
        if (path == kdv::kLevelFile) return &levels_;
        return nullptr;
    }
    kdv::FileSystem& disk_;
    std::vector<uint8_t> settings_, levels_;
};

// The game's milliseconds follow its ticks, so both machines read the same times.
class Session::TickClock : public kdv::Clock {
  public:
    uint32_t TickCount() override { return now; }
    uint32_t now = 0;
};

// The confirmed game shows nothing, but draws as a shown game does: its picture is the one
// recorded, compared and dumped.
class Session::Screen : public kdv::Display {
  public:
    bool CanDraw() const override { return true; }
    void Present(const kdv::WorkBitmap&) override {}
    bool WantsPixels() const override { return false; }
};

// The confirmed game is heard only while the game starts; then the shown game plays the
// sounds. Both count the player's voices, so both take the same path.
class Session::Sound : public kdv::SoundDevice {
  public:
    explicit Sound(kdv::SoundDevice* outer) : outer_(outer) {}
    void Initialise() override {}
    void Finalise() override {}
    void LoadBank(std::vector<std::vector<uint8_t>>) override {}
    int Count() const override { return outer_ ? outer_->Count() : kdv::kSoundEffects; }
    void Play(int item, int volume, bool) override {
        if (heard && outer_) outer_->Play(item, volume, false);
    }
    bool heard = true;

  private:
    kdv::SoundDevice* outer_;
};

Session::Session(Options options) : o_(std::move(options)) {}
// A session dropped in the middle still says goodbye, so the other machine stops at once.
Session::~Session() {
    Quit();
}

bool Session::Open(std::string& error) {
    if (o_.hosting) {
        levels_ = LevelRecords(*o_.disk);
        const long stages = long(levels_.size() / kdv::kLevelRecordBytes) - 1;
        if (o_.stage < 1 || o_.stage > std::max(0L, stages)) {
            error = "stage " + std::to_string(o_.stage) + " is not in the level file (it holds " +
                    std::to_string(std::max(0L, stages)) + " stages)";
            return false;
        }
    }
    link_ = o_.hosting ? Link::Listen(o_.address, error) : Link::Connect(o_.address, error);
    if (!link_) return false;
    opened_ = phaseSince_ = lastHeard_ = Clock::now();
    return true;
}

void Session::Send(const Message& m, bool reliable) {
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
    if (link_ && link_->Connected()) {
        if (!sentBye_) Send(Bye{TicksRun(), failed ? endMessage_ : ""}, true);
        sentBye_ = true;
        link_->Flush();
        link_->Disconnect();
    }
}

void Session::Leave() {
    if (phase_ == Phase::Playing) {
        leaving_ = true;
        // This player's input is sent up to here and no further: both games can reach it.
        StopAt(lastLocal_);
        Send(Stop{lastLocal_}, true);
    } else if (phase_ == Phase::Finishing) {
        leaving_ = true;  // the end is agreed already
    } else {
        End(EndReason::Left, "You left the network game.");
    }
}

void Session::Quit() {
    End(EndReason::Left, "You left the network game.");
}

void Session::StopAt(int64_t final) {
    if (final < TicksRun()) {
        // Both games hold the same inputs, so neither can have run past the other's last one.
        End(EndReason::Error, "The other player stopped at tick " + std::to_string(final) +
                                  ", which this game had passed.");
        return;
    }
    if (limit_ == 0 || final < limit_) limit_ = final;
    // The last tick ran already: its state is compared now, as any last tick's is.
    if (TicksRun() == limit_ && hashedTo_ < limit_) SendHash(limit_);
}

void Session::Poll(uint32_t waitMs) {
    if (!link_) return;
    // A tick due sooner than that is not kept waiting; one that waits for the other machine's
    // input is woken by its arrival.
    if (phase_ == Phase::Playing && o_.paced && peerStarted_ &&
        shownNext_ - remoteKnown_ <= window_) {
        const auto until = nextDue_ - Clock::now();
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(until).count();
        waitMs = ms <= 0 ? 0 : std::min(waitMs, uint32_t(ms));
    }
    for (int i = 0; i < kMaxMessagesPerPoll; ++i) {
        Link::Event e = link_->Service(i == 0 ? waitMs : 0);
        if (e.kind == Link::Event::None) break;
        const auto now = Clock::now();
        if (phase_ == Phase::Ended) continue;  // only the goodbye is still going out
        if (e.kind == Link::Event::Connected) {
            lastHeard_ = now;
            if (o_.hosting) partner_ = link_->PartnerAddress();
            if (!o_.hosting) Send(Hello{kProtocolVersion, o_.identity}, true);
            phase_ = Phase::Handshake;
            phaseSince_ = now;
        } else if (e.kind == Link::Event::Disconnected) {
            Closed(e.code, now);
            if (retryAt_) break;  // this link is done with
        } else if (auto m = Decode(e.bytes)) {
            lastHeard_ = now;
            if (o_.hosting && !helloSeen_ && !std::holds_alternative<Hello>(*m))
                TurnAway(now, kClosedPlain);
            else
                Handle(*m, now);
        } else if (o_.hosting && !helloSeen_) {
            // A program of another version says so in its first bytes, and is told why.
            if (auto protocol = HelloProtocol(e.bytes); protocol && *protocol != kProtocolVersion)
                RefusePartner(kOtherProtocol, "", now);
            else
                TurnAway(now, kClosedPlain);
        }
    }
    if (phase_ == Phase::Ended) return;
    const auto now = Clock::now();
    if (retryAt_ && now >= *retryAt_) {
        // Knocks again on a host that was busy.
        retryAt_.reset();
        std::string error;
        link_ = Link::Connect(o_.address, error);
        if (!link_) {
            End(EndReason::NoAnswer, error);
            return;
        }
        ++stats_.retries;
        opened_ = phaseSince_ = now;
        phase_ = Phase::Connecting;
    }
    switch (phase_) {
        case Phase::Connecting:
            if (o_.hosting) {
                if (o_.waitForPeerMs && now - opened_ > std::chrono::milliseconds(o_.waitForPeerMs))
                    End(EndReason::NobodyJoined, "Nobody joined the game.");
            } else if (!retryAt_ && now - opened_ > std::chrono::milliseconds(kConnectMs)) {
                End(EndReason::NoAnswer, "No answer from " + o_.address.host + ":" +
                                             std::to_string(o_.address.port) + ".");
            }
            break;
        case Phase::Handshake:
            Handshake(now);
            break;
        case Phase::Playing:
            if (!o_.hosting) stats_.roundTripMs = link_->RoundTrip();
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
    if ((phase_ == Phase::Playing || phase_ == Phase::Finishing) &&
        now - lastHeard_ > std::chrono::milliseconds(kGiveUpMs + 2000))
        End(EndReason::Lost, "The connection to the other player was lost.");
    if (link_) link_->Flush();
}

// The other side closed the connection; code says why, when it is the host before a game.
void Session::Closed(uint32_t code, Clock::time_point now) {
    if (o_.hosting && (phase_ == Phase::Connecting || phase_ == Phase::Handshake)) {
        TurnAway(now, kClosedPlain);  // gone before the game began: wait for another
    } else if (!o_.hosting && (phase_ == Phase::Connecting || phase_ == Phase::Handshake) &&
               (code == kClosedBusy || code == kClosedLate)) {
        // Someone else holds the host's slot for now; it is given up within seconds.
        if (!busySince_) busySince_ = now;
        if (now - *busySince_ < std::chrono::milliseconds(kBusyRetryMs))
            retryAt_ = now + std::chrono::milliseconds(250);
        else
            End(EndReason::Busy, "The host is busy with another player.");
    } else if (!o_.hosting && phase_ == Phase::Connecting) {
        End(EndReason::NoAnswer,
            "No answer from " + o_.address.host + ":" + std::to_string(o_.address.port) + ".");
    } else if (phase_ == Phase::Finishing && peerFinal_ >= 0) {
        EndTogether();
    } else {
        End(EndReason::Lost, "The connection to the other player was lost.");
    }
}

void Session::Handle(const Message& m, Clock::time_point now) {
    if (auto* hello = std::get_if<Hello>(&m)) {
        if (o_.hosting && phase_ == Phase::Handshake && !helloSeen_) HandleHello(*hello, now);
    } else if (auto* refuse = std::get_if<Refuse>(&m)) {
        if (o_.hosting || phase_ != Phase::Handshake) return;
        refusedWhat_ = refuse->what;
        hostBuild_ = refuse->hostBuild;
        detail_ = MismatchText(refuse->what, refuse->hostBuild, o_.identity.build, true);
        End(EndReason::RefusedByHost, "The host refused the game: " + detail_ + ".");
    } else if (auto* ping = std::get_if<Ping>(&m)) {
        Send(Pong{ping->sequence}, false);
    } else if (auto* pong = std::get_if<Pong>(&m)) {
        auto it = pings_.find(pong->sequence);
        if (it != pings_.end()) {
            roundTrips_.push_back(Ms(now - it->second));
            pings_.erase(it);
        }
    } else if (auto* welcome = std::get_if<Welcome>(&m)) {
        if (!o_.hosting && phase_ == Phase::Handshake) HandleWelcome(*welcome);
    } else if (auto* inputs = std::get_if<Inputs>(&m)) {
        if (phase_ == Phase::Playing || phase_ == Phase::Finishing) HandleInputs(*inputs);
    } else if (auto* hash = std::get_if<Hash>(&m)) {
        if (phase_ == Phase::Playing || phase_ == Phase::Finishing) HandleHash(*hash);
    } else if (auto* stop = std::get_if<Stop>(&m)) {
        if (phase_ == Phase::Playing || phase_ == Phase::Finishing) {
            peerLeft_ = true;
            StopAt(stop->final);
        }
    } else if (auto* bye = std::get_if<Bye>(&m)) {
        if (phase_ == Phase::Finishing || (limit_ && bye->final >= limit_)) {
            peerFinal_ = bye->final;
            CheckFinished(now);
        } else if (!bye->reason.empty()) {
            End(EndReason::Error, "The other player's game stopped: " + bye->reason);
        } else {
            End(EndReason::PeerLeft, "The other player left the game.");
        }
    }
}

void Session::HandleHello(const Hello& h, Clock::time_point now) {
    const uint8_t what = h.protocol != kProtocolVersion ? uint8_t(kOtherProtocol)
                                                        : Mismatches(o_.identity, h.identity);
    if (what)
        RefusePartner(what, h.identity.build, now);
    else
        helloSeen_ = true;
}

// A player whose program or data do not fit is told why; the host waits for another.
void Session::RefusePartner(uint8_t what, const std::string& theirBuild, Clock::time_point now) {
    Send(Refuse{what, o_.identity.build}, true);
    turnedAwayWhat_ = what;
    turnedAwayBuild_ = theirBuild;
    notice_ =
        "A player could not join: " + MismatchText(what, o_.identity.build, theirBuild, false) +
        ".";
    TurnAway(now, kClosedRefused);
}

// The host drops whoever holds its slot without a game and waits for another.
void Session::TurnAway(Clock::time_point now, CloseCode why) {
    if (link_->Connected()) ++stats_.turnedAway;
    link_->DropPartner(why);
    partner_.clear();  // whoever comes next is the partner
    phase_ = Phase::Connecting;
    phaseSince_ = now;
    helloSeen_ = false;
    pings_.clear();
    roundTrips_.clear();
}

void Session::Handshake(Clock::time_point now) {
    // A silent connection must not hold the slot a real player is knocking on.
    if (o_.hosting && !helloSeen_ && now - phaseSince_ > std::chrono::milliseconds(kHelloMs)) {
        if (notice_.empty() || turnedAwayWhat_) {
            turnedAwayWhat_ = 0;
            notice_ = "A connection that said nothing was turned away.";
        }
        TurnAway(now, kClosedLate);
        return;
    }
    if (o_.hosting && now - phaseSince_ > std::chrono::milliseconds(kHandshakeMs)) {
        TurnAway(now, kClosedPlain);
        return;
    }
    if (now - phaseSince_ > std::chrono::milliseconds(kHandshakeMs)) {
        End(EndReason::NoAnswer, "The other machine did not finish the handshake.");
        return;
    }
    if (!o_.hosting || !helloSeen_) return;
    // The host measures the round trip, then chooses the delay and starts the game.
    const int sent = int(roundTrips_.size() + pings_.size());
    if (sent < kPings && (pings_.empty() || now - lastSent_ >= kPingGap)) {
        const uint32_t sequence = uint32_t(sent + 1);
        pings_[sequence] = now;
        lastSent_ = now;
        Send(Ping{sequence}, false);
        return;
    }
    const bool allBack = int(roundTrips_.size()) == kPings;
    const bool waitedEnough = !roundTrips_.empty() && now - phaseSince_ > std::chrono::seconds(3);
    if (!allBack && !waitedEnough) return;
    std::vector<uint32_t> sorted = roundTrips_;
    std::sort(sorted.begin(), sorted.end());
    // The slower end of the measurements, so that jitter seldom stalls the game.
    stats_.roundTripMs = sorted[sorted.size() * 3 / 4];
    const std::string settings = kdv::FormatSettings(o_.settings);
    Welcome w;
    w.mode = o_.mode;
    w.stage = o_.stage;
    w.window =
        uint8_t(o_.window >= 0 ? std::min(o_.window, kMaxWindow) : WindowFor(stats_.roundTripMs));
    w.delay = uint8_t(w.window ? kMinDelay : LockstepDelay(stats_.roundTripMs));
    w.ticks = o_.ticks;
    w.settings = settings;
    w.levels = levels_;
    Send(w, true);
    link_->Flush();
    delay_ = w.delay;
    window_ = w.window;
    limit_ = o_.ticks;
    StartGame(settings, o_.mode, o_.stage);
}

void Session::HandleWelcome(const Welcome& w) {
    if (w.mode != kdv::gmTwoPlayers && w.mode != kdv::gmDuel) {
        End(EndReason::Error,
            "The host asked for a game that is neither a two-player game nor a duel.");
        return;
    }
    delay_ = w.delay;
    window_ = w.window;
    limit_ = w.ticks;
    levels_ = w.levels;
    StartGame(w.settings, w.mode, w.stage);
}

void Session::StartGame(const std::string& settingsText, uint8_t mode, int32_t stage) {
    // The joiner names the host as it was asked to; the host knew the joiner when it connected.
    if (!o_.hosting) partner_ = Address();
    files_ = std::make_unique<Files>(*o_.disk, settingsText, levels_);
    maskInput_ = std::make_unique<replay::MaskInput>();
    tickClock_ = std::make_unique<TickClock>();
    screen_ = std::make_unique<Screen>();
    sound_ = std::make_unique<Sound>(o_.sound);
    auto window = std::make_unique<adapters::VirtualWindow>();
    adapters::VirtualWindow& virtualWindow = *window;
    virtualWindow_ = std::move(window);
    recorder_ = std::make_unique<recording::RecordedGame>(recording::Keep::GamesAndRun);
    kdv::Services services{screen_.get(),    sound_.get(), maskInput_.get(),
                           tickClock_.get(), files_.get(), virtualWindow_.get()};
    game_ = recorder_->Make(services);
    maskInput_->settings = &game_->Settings;
    kdv::FormCreate(*game_);
    if (!kdv::FormActivate(*game_)) {
        End(EndReason::Error, virtualWindow.messages.empty()
                                  ? "The game's data files cannot be read."
                                  : virtualWindow.messages.front());
        return;
    }
    if (stage < 1 || stage > game_->LevelCount) {
        End(EndReason::Error, "Stage " + std::to_string(stage) + " is not in the level file.");
        return;
    }
    recorder_->Begin();
    // Started as the level dialog's Ok starts a game, so the replay holds the start as such.
    const int gameItem = mode == kdv::gmDuel ? 2 : 1;
    if (auto error = recorder_->SelectOk(stage, gameItem)) {
        End(EndReason::Error, *error);
        return;
    }
    sound_->heard = false;
    shown_ = std::make_unique<ShownGame>(*files_, o_.display, o_.sound, o_.input,
                                         o_.settings.forceFeedback);
    shown_->TakeState(*game_, maskInput_->mask);

    stats_.delay = delay_;
    stats_.window = window_;
    // The first ticks of both players are empty on both machines: nobody could have sent them.
    for (int64_t tick = 1; tick <= delay_; ++tick) local_[tick] = remote_[tick] = 0;
    remoteKnown_ = delay_;
    lastLocal_ = delay_;
    peerAck_ = delay_;
    phase_ = Phase::Playing;
    playStart_ = nextDue_ = Clock::now();
    cpuStart_ = std::clock();
    // The joiner starts when the Welcome arrives. The host starts when the joiner's first
    // inputs arrive, as if half a round trip earlier, so that neither begins ahead of the
    // other, even when the Welcome had to be sent again.
    peerStarted_ = !o_.hosting || !o_.paced;
    SampleLocal(1 + delay_);
    SendInputs(playStart_, true);
}

void Session::SampleLocal(int64_t upTo) {
    if (limit_) upTo = std::min(upTo, limit_);  // nothing past the agreed end is played
    while (lastLocal_ < upTo) {
        const int64_t tick = ++lastLocal_;
        if (o_.beforeInput) o_.beforeInput(tick);
        uint16_t mask = 0;
        if (o_.input) {
            o_.input->Update();
            mask = uint16_t(replay::BindingMask(o_.settings, *o_.input) & kPlayerMask);
        }
        local_[tick] = mask;
        newLocal_ = true;
    }
}

void Session::SendInputs(Clock::time_point now, bool force) {
    if (!force && !newLocal_ && now - lastSent_ < kResendGap) return;
    Inputs in;
    in.ack = remoteKnown_;
    in.ahead = int8_t(std::clamp(std::lround(ahead_ * 4), -127L, 127L));
    auto it = local_.upper_bound(peerAck_);
    if (it == local_.end()) it = std::prev(local_.end(), local_.empty() ? 0 : 1);
    if (it == local_.end()) return;
    in.first = it->first;
    for (; it != local_.end() && in.masks.size() < kMaxInputsPerPacket; ++it)
        in.masks.push_back(it->second);
    Send(in, false);
    lastSent_ = now;
    newLocal_ = false;
}

void Session::HandleInputs(const Inputs& in) {
    // An acknowledgement never reaches past what was sent.
    peerAck_ = std::clamp(in.ack, peerAck_, lastLocal_);
    peerAhead_ = in.ahead / 4.0;
    if (!peerStarted_) {
        peerStarted_ = true;
        const auto now = Clock::now();
        const auto halfTrip = std::chrono::milliseconds(
            std::min<uint32_t>(stats_.roundTripMs / 2, 8 * kdv::kTimerInterval));
        playStart_ = nextDue_ = now - halfTrip;
    }
    while (!local_.empty() && local_.begin()->first <= std::min(peerAck_, next_ - 1) &&
           local_.size() > 1)
        local_.erase(local_.begin());
    for (size_t i = 0; i < in.masks.size(); ++i) {
        const int64_t tick = in.first + int64_t(i);
        if (tick <= remoteKnown_ || tick > next_ + kWindow) continue;
        remote_.emplace(tick, in.masks[i]);  // the first copy stands
    }
    for (auto it = remote_.find(remoteKnown_ + 1);
         it != remote_.end() && it->first == remoteKnown_ + 1; ++it) {
        ++remoteKnown_;
        lastRemote_ = it->second;
    }
}

void Session::HandleHash(const Hash& h) {
    if (h.tick < 1 || h.tick > next_ + kWindow || remoteHashes_.size() > size_t(kWindow)) return;
    remoteHashes_.emplace(h.tick, h.hash);
    CompareHashes();
}

void Session::CompareHashes() {
    for (auto it = localHashes_.begin(); it != localHashes_.end();) {
        auto other = remoteHashes_.find(it->first);
        if (other == remoteHashes_.end()) {
            ++it;
            continue;
        }
        if (other->second != it->second) {
            End(EndReason::Apart,
                "The two games went apart at tick " + std::to_string(it->first) +
                    ": their states differ. The game was stopped, and both machines "
                    "wrote their replays for the report.");
            return;
        }
        ++stats_.hashChecks;
        remoteHashes_.erase(other);
        it = localHashes_.erase(it);
    }
}

void Session::RunDue(Clock::time_point now) {
    Confirm();
    for (int n = 0; n < o_.ticksPerPoll && phase_ == Phase::Playing; ++n) {
        if (limit_ && next_ > limit_) {
            phase_ = Phase::Finishing;
            phaseSince_ = now;
            if (shownNext_ <= limit_ || playEnd_ < playStart_) playEnd_ = now;
            stats_.cpuSeconds = CpuSecondsSince(cpuStart_);
            SendInputs(now, true);
            CheckFinished(now);
            return;
        }
        if (limit_ && shownNext_ > limit_) return;  // the end waits for its confirmation
        // A caller with a beat of its own runs the tick due within half a tick of its poll.
        const auto early = o_.polledEachTick ? kTick / 2 : Clock::duration::zero();
        if (!peerStarted_ || (o_.paced && now + early < nextDue_)) return;
        SampleLocal(shownNext_ + delay_);
        if (shownNext_ - remoteKnown_ > window_) {
            waited_ = true;
            return;
        }
        // A stall is a frame held on screen for longer than a tick and a half while the
        // other machine's input was on its way.
        if (o_.paced && shownNext_ > 1 && now - lastTickAt_ > kTick * 3 / 2) {
            ++stats_.stalls;
            stats_.stalledSeconds +=
                std::chrono::duration<double>(now - lastTickAt_ - kTick).count();
        }
        if (o_.keepTickIntervals && shownNext_ > 1)
            stats_.tickIntervalsMs.push_back(
                std::chrono::duration<double, std::milli>(now - lastTickAt_).count());
        lastTickAt_ = now;
        ahead_ += (double(shownNext_ - remoteKnown_) - ahead_) / 16;
        const auto work = Clock::now();
        RunShown(shownNext_++, false);
        if (shownNext_ > limit_ && limit_) playEnd_ = now;  // the last tick is on screen
        Confirm();
        stats_.tickSeconds += std::chrono::duration<double>(Clock::now() - work).count();
        if (o_.paced) {
            // After a wait the beat follows the other machine's rather than racing to catch up
            // with its own, which would only make the next wait longer.
            const auto due = nextDue_;
            nextDue_ = waited_ ? now + kTick : nextDue_ + kTick;
            if (now - nextDue_ > 8 * kTick) nextDue_ = now;
            waited_ = false;
            // The machine further ahead of the other's input slows down a little, until both
            // wait as long for each other's input: half the difference is its lead in ticks.
            const bool slow = (ahead_ - peerAhead_) / 2 > 1;
            if (!o_.polledEachTick) {
                if (slow) nextDue_ += std::chrono::milliseconds(1);
            } else {
                // The ticks keep to the caller's polls, so that a poll near the edge of the half
                // tick does not run none and then two; slowing down skips a whole poll now and
                // then instead.
                if (now - due > -kTick / 2 && now - due < kTick / 2) nextDue_ += (now - due) / 8;
                if (slow) slowedBy_ += std::chrono::milliseconds(1);
                if (slowedBy_ >= kTick) {
                    slowedBy_ -= kTick;
                    nextDue_ += kTick;
                }
            }
        }
    }
}

// Runs the confirmed game over every tick the shown game ran whose inputs are now known, and
// corrects the shown game when it guessed one of them wrong.
void Session::Confirm() {
    bool wrong = limit_ && shownNext_ > limit_ + 1;  // it ran past the agreed end
    while (next_ < shownNext_ && next_ <= remoteKnown_ && phase_ == Phase::Playing) {
        if (auto it = guessed_.find(next_); it != guessed_.end()) {
            wrong = wrong || o_.correctAlways || it->second != remote_.at(next_);
            guessed_.erase(it);
        }
        RunTick();
    }
    if (phase_ != Phase::Playing) return;
    if (wrong) Correct();
    shown_->Confirmed(next_);
}

void Session::Correct() {
    ++stats_.rollbacks;
    guessed_.clear();
    shown_->TakeState(*game_, maskInput_->mask);
    const int64_t last = limit_ ? std::min(shownNext_ - 1, limit_) : shownNext_ - 1;
    for (int64_t tick = next_; tick <= last; ++tick) {
        RunShown(tick, tick < last);
        ++stats_.ticksRunAgain;
    }
    shownNext_ = last + 1;
}

uint32_t Session::MaskOf(uint16_t mine, uint16_t theirs) const {
    const uint16_t host = o_.hosting ? mine : theirs;
    const uint16_t joiner = o_.hosting ? theirs : mine;
    return uint32_t(host) | uint32_t(joiner) << kPlayerBits;
}

// Runs the shown game's tick on the other player's input where it is known, and on the last
// one known where it is not: a player mostly holds what they held.
void Session::RunShown(int64_t tick, bool quiet) {
    uint16_t theirs;
    if (tick <= remoteKnown_) {
        theirs = remote_.at(tick);
    } else {
        theirs = o_.guess ? uint16_t(o_.guess(tick, lastRemote_) & kPlayerMask) : lastRemote_;
        guessed_[tick] = theirs;
    }
    shown_->Run(tick, MaskOf(local_.at(tick), theirs), quiet);
}

void Session::RunTick() {
    const int64_t tick = next_;
    maskInput_->mask = MaskOf(local_.at(tick), remote_.at(tick));
    remote_.erase(tick);
    tickClock_->now = uint32_t(tick * kdv::kTimerInterval);
    recorder_->Tick();
    ++next_;
    auto& window = static_cast<adapters::VirtualWindow&>(*virtualWindow_);
    if (window.failed) {
        End(EndReason::Error, "An error ended the game: " + window.failure);
        return;
    }
    if (o_.afterTick) o_.afterTick(tick, *game_);
    if (tick % kHashPeriod == 0 || tick == limit_) SendHash(tick);
}

void Session::SendHash(int64_t tick) {
    const uint64_t h = o_.hash ? o_.hash(*game_, long(tick)) : 0;
    localHashes_[tick] = h;
    hashedTo_ = tick;
    Send(Hash{tick, h}, true);
    CompareHashes();
}

void Session::CheckFinished(Clock::time_point now) {
    if (phase_ != Phase::Finishing) return;
    // Done when the peer holds every input it needs and the last hashes agreed.
    if (peerAck_ >= limit_ && localHashes_.empty()) {
        if (!sentBye_) {
            Send(Bye{TicksRun(), ""}, true);
            sentBye_ = true;
        }
        if (peerFinal_ >= limit_) EndTogether();
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

std::string Session::Status() const {
    const auto now = Clock::now();
    switch (phase_) {
        case Phase::Connecting:
            if (o_.hosting)
                return "Waiting for a player to join on port " + std::to_string(o_.address.port) +
                       "…" + (notice_.empty() ? "" : " (" + notice_ + ")");
            return retryAt_ ? "The host is busy; knocking again…" : "Connecting…";
        case Phase::Handshake:
            return "Connected; agreeing on the game…";
        case Phase::Playing:
        case Phase::Finishing:
            if (now - lastHeard_ > std::chrono::milliseconds(kQuietMs))
                return "Waiting for the other player (" +
                       std::to_string(Ms(now - lastHeard_) / 1000) + " s of " +
                       std::to_string(kGiveUpMs / 1000) + ")…";
            return {};
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

const kdv::Game* Session::Shown() const {
    return shown_ ? &shown_->Game() : nullptr;
}

Stats Session::GetStats() const {
    Stats s = stats_;
    if (phase_ == Phase::Playing) s.cpuSeconds = CpuSecondsSince(cpuStart_);
    s.ticks = TicksRun();
    if (link_) s.strangers = link_->strangers;
    if (phase_ == Phase::Playing || phase_ == Phase::Finishing || phase_ == Phase::Ended) {
        const auto end = (phase_ == Phase::Playing) ? Clock::now() : playEnd_;
        if (end > playStart_)
            s.playSeconds = std::chrono::duration<double>(end - playStart_).count();
    }
    return s;
}

std::optional<replay::Replay> Session::Recording() const {
    if (!recorder_ || !recorder_->Begun()) return std::nullopt;
    replay::Replay r = recorder_->Whole();
    r.header.side = o_.hosting ? replay::Side::Host : replay::Side::Joiner;
    r.header.partner = partner_;
    return r;
}

}  // namespace net
