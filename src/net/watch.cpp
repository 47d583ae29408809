#include "net/watch.h"

#include <algorithm>

#include "adapters/virtual_devices.h"
#include "core/field/map.h"
#include "core/flow/game_state.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "net/invite.h"
#include "recording/recorded_game.h"
#include "replay/mask_input.h"

namespace net {
namespace {

constexpr uint32_t kConnectMs = 10000;  // to reach the host
constexpr uint32_t kSilentMs = 12000;   // a host silent this long is lost
constexpr auto kAckGap = std::chrono::milliseconds(20);
constexpr auto kTick = std::chrono::milliseconds(kdv::kTimerInterval);
// Inputs further ahead than this of those held are not kept (they come again).
constexpr int64_t kEarlyKept = 8192;
// Ticks one poll plays at most when it has fallen behind its beat (the window stalled).
constexpr int kCatchUpPerPoll = 64;

}  // namespace

// The game always draws, as the players' confirmed games do, so that its state is theirs;
// the picture is shown when there is somewhere to show it.
class WatchSession::Screen : public kdv::Display {
  public:
    explicit Screen(kdv::Display* outer) : outer_(outer) {}
    bool CanDraw() const override { return true; }
    void Present(const kdv::WorkBitmap& bitmap) override {
        if (outer_ && outer_->CanDraw()) outer_->Present(bitmap);
    }
    bool WantsPixels() const override { return outer_ != nullptr; }
    bool TakesRuns() const override { return outer_ != nullptr && outer_->TakesRuns(); }
    void PresentRuns(const kdv::FrameChange& change) override {
        if (outer_ && outer_->CanDraw()) outer_->PresentRuns(change);
    }

  private:
    kdv::Display* outer_;
};

WatchSession::WatchSession(WatchOptions options) : o_(std::move(options)) {}

WatchSession::~WatchSession() {
    if (phase_ != Phase::Ended) Leave();
}

bool WatchSession::Open(std::string& error) {
    link_ = Link::Connect(o_.address, error);
    if (!link_) return false;
    opened_ = lastHeard_ = Clock::now();
    return true;
}

std::string WatchSession::Address() const {
    return o_.address.host + ":" + std::to_string(o_.address.port);
}

std::string WatchSession::HostName() const {
    return hostName_.empty() ? Address() : hostName_;
}

bool WatchSession::Failed() const {
    return end_ != End::Over && end_ != End::Left && end_ != End::None;
}

void WatchSession::Stop(End why, std::string message) {
    if (phase_ == Phase::Ended) return;
    phase_ = Phase::Ended;
    end_ = why;
    message_ = std::move(message);
    if (link_ && link_->Connected()) {
        link_->Send(Encode(Bye{played_, ""}), true);
        link_->Flush();
        link_->Disconnect();
    }
}

void WatchSession::Leave() {
    Stop(End::Left, "You stopped watching the game.");
}

void WatchSession::Poll(uint32_t waitMs) {
    if (!link_ || phase_ == Phase::Ended) {
        // The goodbye still goes out.
        if (link_ && link_->Closing()) link_->Service(0);
        return;
    }
    // A beat of its own: wake for the next tick that is due.
    if (phase_ == Phase::Watching && anchor_ && have_ > played_) {
        const auto due = *anchor_ + (played_ + 1 - anchorTick_) * kTick;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now());
        waitMs = uint32_t(std::clamp<long>(long(left.count()), 0, long(waitMs)));
    }
    for (int i = 0; i < 512; ++i) {
        Link::Event e = link_->Service(i == 0 ? waitMs : 0);
        if (e.kind == Link::Event::None) break;
        const auto now = Clock::now();
        if (e.kind == Link::Event::Connected) {
            lastHeard_ = now;
        } else if (e.kind == Link::Event::Disconnected) {
            Closed(e.code, now);
            if (busy_.Waiting() || phase_ == Phase::Ended) break;
        } else {
            Received(e.bytes, now);
        }
        if (phase_ == Phase::Ended) return;
    }
    const auto now = Clock::now();
    if (busy_.Due(now)) {
        std::string error;
        link_ = Link::Connect(o_.address, error);
        if (!link_) {
            Stop(End::NoAnswer, error);
            return;
        }
        ++retries;
        helloSent_ = false;
        opened_ = lastHeard_ = now;
        phase_ = Phase::Connecting;
    }
    if (phase_ == Phase::Connecting && !busy_.Waiting() &&
        now - opened_ > std::chrono::milliseconds(kConnectMs)) {
        Stop(End::NoAnswer, "No answer from " + Address() + ".");
        return;
    }
    if (phase_ == Phase::Watching) Play(now);
    if (phase_ == Phase::Ended) return;
    if (!hostGone_ && phase_ != Phase::Connecting &&
        now - lastHeard_ > std::chrono::milliseconds(kSilentMs))
        hostGone_ = true;
    if (hostGone_ && (!final_ || have_ < *final_)) {
        Stop(End::Lost, "The connection to the host was lost.");
        return;
    }
    if (phase_ == Phase::Watching && link_->Connected() && now - lastAck_ >= 5 * kAckGap) {
        link_->Send(Encode(WatchAck{have_}), false);
        lastAck_ = now;
    }
    link_->Flush();
}

void WatchSession::Received(const std::vector<uint8_t>& bytes, Clock::time_point now) {
    const auto m = Decode(bytes);
    if (!m) return;
    lastHeard_ = now;
    if (auto* challenge = std::get_if<Challenge>(&*m)) {
        if (helloSent_) return;
        helloSent_ = true;
        Hello hello;
        hello.identity = o_.identity;
        hello.proof = ProveCode(challenge->nonce, o_.inviteCode);
        hello.role = Role::Spectator;
        link_->Send(Encode(hello), true);
        if (phase_ == Phase::Connecting) phase_ = Phase::Waiting;
    } else if (auto* refuse = std::get_if<Refuse>(&*m)) {
        refused_ = true;
        Stop(End::Refused,
             "The host refused: " +
                 MismatchText(refuse->what, refuse->hostBuild, o_.identity.build, true) + ".");
    } else if (auto* watch = std::get_if<Watch>(&*m)) {
        if (phase_ == Phase::Waiting) Begin(*watch, now);
    } else if (auto* in = std::get_if<WatchInputs>(&*m)) {
        if (phase_ == Phase::Watching) Take(*in, now);
    } else if (auto* bye = std::get_if<Bye>(&*m)) {
        if (phase_ != Phase::Watching) {
            Stop(End::Stopped, bye->reason.empty() ? "The game ended before it began."
                                                   : "The game stopped: " + bye->reason);
            return;
        }
        if (bye->final < played_) {
            Stop(End::Error, "The host ended the game at a tick already watched.");
            return;
        }
        final_ = bye->final;
        finalReason_ = bye->reason;
    }
}

void WatchSession::Closed(uint32_t code, Clock::time_point now) {
    const bool before = phase_ == Phase::Connecting || phase_ == Phase::Waiting;
    if (before && (code == kClosedBusy || code == kClosedLate)) {
        // Turned away while the host seated its player: knock again for a few seconds.
        if (!busy_.TurnedAway(now)) Stop(End::Busy, "The host kept turning this machine away.");
        return;
    }
    switch (code) {
        case kClosedFull:
            Stop(End::Full, "The game already has eight spectators.");
            return;
        case kClosedCode:
            Stop(End::WrongCode, "The host refused: the invite code is missing or wrong.");
            return;
        case kClosedSlow:
            Stop(End::Slow, "This machine fell too far behind the game and stopped watching.");
            return;
        case kClosedRefused:
            if (!refused_) Stop(End::Refused, "The host refused this machine.");
            return;
        default:
            break;
    }
    if (phase_ == Phase::Connecting) {
        Stop(End::NoAnswer, "No answer from " + Address() + ".");
        return;
    }
    // Gone: what is held is still played, and the game ends well if that is all of it.
    hostGone_ = true;
}

void WatchSession::Begin(const Watch& w, Clock::time_point now) {
    hostName_ = w.host;
    files_ = std::make_unique<HostFiles>(*o_.disk, w.settings, w.levels, "while watching a game");
    input_ = std::make_unique<replay::MaskInput>();
    clock_ = std::make_unique<TickClock>();
    screen_ = std::make_unique<Screen>(o_.display);
    sound_ = std::make_unique<HostGameSound>(o_.sound);
    auto window = std::make_unique<adapters::VirtualWindow>();
    adapters::VirtualWindow& virtualWindow = *window;
    window_ = std::move(window);
    recorder_ = std::make_unique<recording::RecordedGame>(recording::Keep::GamesAndRun);
    kdv::Services services{screen_.get(), sound_.get(), input_.get(),
                           clock_.get(),  files_.get(), window_.get()};
    game_ = recorder_->Make(services);
    input_->settings = &game_->Settings;
    kdv::FormCreate(*game_);
    if (!kdv::FormActivate(*game_)) {
        Stop(End::Error, virtualWindow.messages.empty() ? "The game's data files cannot be read."
                                                        : virtualWindow.messages.front());
        return;
    }
    if (w.stage > game_->LevelCount || (w.mode != kdv::gmTwoPlayers && w.mode != kdv::gmDuel)) {
        Stop(End::Error, "The host sent a game this program cannot play.");
        return;
    }
    recorder_->Begin();
    // Started as the players started it; one that comes in the middle hears nothing of that,
    // and then takes the host's confirmed game as it stood after tick from.
    sound_->heard = w.from == 0;
    const auto error = recorder_->SelectOk(w.stage, w.mode == kdv::gmDuel ? 2 : 1);
    sound_->heard = true;
    if (error) {
        Stop(End::Error, *error);
        return;
    }
    if (w.from > 0) {
        if (auto why = TakeMidGame({w.state, w.position, w.gameItem, w.mask}, *game_)) {
            Stop(End::Error, "The host's game could not be taken: " + *why);
            return;
        }
        input_->mask = w.mask;
        clock_->now = uint32_t(w.from * kdv::kTimerInterval);
        recorder_->StartFrom(w.from);
    }
    from_ = played_ = have_ = w.from;
    phase_ = Phase::Watching;
    lastAck_ = now;
}

void WatchSession::Take(const WatchInputs& in, Clock::time_point now) {
    watching_ = in.watching;
    for (size_t i = 0; i < in.masks.size(); ++i) {
        const int64_t tick = in.first + int64_t(i);
        if (tick > have_ && tick <= have_ + kEarlyKept) early_.emplace(tick, in.masks[i]);
    }
    const int64_t before = have_;
    for (auto it = early_.begin(); it != early_.end() && it->first <= have_ + 1;) {
        if (it->first == have_ + 1) {
            masks_.push_back(it->second);
            ++have_;
        }
        it = early_.erase(it);
    }
    if (have_ > before && now - lastAck_ >= kAckGap) {
        link_->Send(Encode(WatchAck{have_}), false);
        lastAck_ = now;
    }
}

bool WatchSession::RunTick() {
    const int64_t tick = played_ + 1;
    input_->mask = masks_.front();
    masks_.pop_front();
    clock_->now = uint32_t(tick * kdv::kTimerInterval);
    recorder_->Tick();
    played_ = tick;
    const auto& window = static_cast<const adapters::VirtualWindow&>(*window_);
    if (window.failed) {
        Stop(End::Error, "An error ended the game: " + window.failure);
        return false;
    }
    if (o_.afterTick) o_.afterTick(tick, *game_);
    return true;
}

void WatchSession::Play(Clock::time_point now) {
    if (!o_.paced) {
        while (played_ < have_ && phase_ == Phase::Watching) RunTick();
    } else {
        if (!anchor_ && have_ > played_) {
            // The beat starts (again) a delay after inputs come.
            anchor_ = now + std::chrono::milliseconds(o_.delayMs);
            anchorTick_ = played_;
        }
        for (int n = 0; anchor_ && n < kCatchUpPerPoll && phase_ == Phase::Watching; ++n) {
            if (now < *anchor_ + (played_ + 1 - anchorTick_) * kTick) break;
            if (played_ == have_) {
                // Ran dry: wait a whole delay again rather than stutter on.
                if (!final_ || played_ < *final_) ++dry;
                anchor_.reset();
                break;
            }
            RunTick();
        }
    }
    if (phase_ != Phase::Watching) return;
    if (o_.stopAfter && played_ >= o_.stopAfter && (!final_ || played_ < *final_)) {
        Leave();
        return;
    }
    if (final_ && played_ >= *final_) {
        if (finalReason_.empty())
            Stop(End::Over, "The game is over.");
        else
            Stop(End::Stopped, "The game stopped: " + finalReason_);
    }
}

std::optional<replay::Replay> WatchSession::Recording() const {
    if (!recorder_ || !recorder_->Begun()) return std::nullopt;
    replay::Replay r = recorder_->Whole();
    r.header.side = replay::Side::Watcher;
    r.header.partner = Address();
    return r;
}

}  // namespace net
