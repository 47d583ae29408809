#include "web/replay_viewer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "core/flow/main_form.h"
#include "core/game.h"
#include "replay/format.h"
#include "replay/playback.h"
#include "ui/captions.h"

namespace web {
namespace {

// Of the 13 ms tick, what a skip ahead takes for play: the page keeps drawing and hearing keys.
constexpr std::chrono::milliseconds kSkipSlice{6};
constexpr int64_t kMinuteTicks = 60'000 / kdv::kTimerInterval;
constexpr int kEndHoldTicks = 2000 / kdv::kTimerInterval;

// m:ss, or h:mm:ss, of a number of ticks, as the window's replay list shows lengths.
std::string LengthText(int64_t ticks) {
    const int64_t seconds = ticks * kdv::kTimerInterval / 1000;
    char text[32];
    if (seconds >= 3600)
        std::snprintf(
            text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
            static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    return text;
}

std::optional<replay::Replay> Decode(std::span<const uint8_t> bytes, PageFiles& files,
                                     std::string& error) {
    replay::DecodeResult result = replay::Decode(bytes);
    if (!result.replay) {
        error = result.error;
        return std::nullopt;
    }
    if (auto refusal = replay::CheckReplay(*result.replay, files)) {
        error = *refusal;
        return std::nullopt;
    }
    return std::move(result.replay);
}

}  // namespace

std::unique_ptr<ReplayViewer> ReplayViewer::Open(std::span<const uint8_t> bytes, std::string name,
                                                 const kdv::Game& player, PageFiles& files,
                                                 kdv::Display& display, kdv::SoundDevice& sound,
                                                 std::string& error) {
    auto replay = Decode(bytes, files, error);
    if (!replay) return nullptr;
    std::unique_ptr<ReplayViewer> viewer(new ReplayViewer());
    viewer->name_ = std::move(name);
    kdv::Services outer;
    outer.display = &display;
    outer.sound = player.Settings.soundEnable && !player.SoundUnavailable ? &sound : nullptr;
    outer.window = &viewer->window_;
    viewer->playback_ = std::make_unique<replay::Playback>(std::move(*replay), files, outer);
    replay::Playback& playback = *viewer->playback_;
    // The replayed game's start-up is not shown: its first tick is. Its writes stay in memory.
    playback.Show(false);
    files.keep = false;
    const bool started = playback.Start();
    files.keep = true;
    if (!started) {
        error = "the replay could not be started";
        return nullptr;
    }
    playback.Show(true);
    return viewer;
}

ReplayViewer::~ReplayViewer() = default;

bool ReplayViewer::StepOnce() {
    if (!playback_->Step() || window_.failed || window_.closeRequested) {
        ReachedEnd();
        return false;
    }
    return true;
}

void ReplayViewer::ReachedEnd() {
    ended_ = true;
    holdTicks_ = kEndHoldTicks;
    skipTo_.reset();
    paused_ = fast_ = false;
    playback_->Show(true);
    // At the end of the stream: what follows the last tick, the last state hash among it.
    if (!window_.failed) playback_->Finish();
    if (window_.failed)
        endText_ = name_ + ": " + window_.failure;
    else if (playback_->PartedAt())
        endText_ = name_ + ": " + playback_->PartedMessage();
}

void ReplayViewer::Tick() {
    if (ended_) {
        if (holdTicks_ > 0) --holdTicks_;
        return;
    }
    if (skipTo_) {
        // As many ticks as fit in a slice of the tick: the page keeps drawing and hearing keys
        // however far the skip goes.
        const auto until = std::chrono::steady_clock::now() + kSkipSlice;
        while (playback_->TicksRun() < *skipTo_ && std::chrono::steady_clock::now() < until)
            if (!StepOnce()) return;
        if (playback_->TicksRun() < *skipTo_) return;
        skipTo_.reset();
        playback_->Show(true);
        return;
    }
    if (paused_) return;
    for (int i = 0; i < (fast_ ? 4 : 1) && StepOnce(); ++i) {
    }
}

void ReplayViewer::KeyDown(int code, bool) {
    if (ended_) {
        if (code == 27) holdTicks_ = 0;  // the end is being shown: Esc goes on at once
        return;
    }
    switch (code) {
        case 'P':
            paused_ = !paused_;
            break;
        case 'F':
            fast_ = !fast_;
            break;
        case 27:
            ended_ = true;  // stopped by the player: nothing to hold or tell
            break;
        case 39:  // Right
        case 35:  // End
        {
            const int64_t end = playback_->Data().header.ticks;
            const int64_t from = skipTo_ ? *skipTo_ : playback_->TicksRun();
            skipTo_ = code == 35 ? end : std::min(end, from + kMinuteTicks);
            playback_->Show(false);
            break;
        }
        default:
            break;
    }
}

std::string ReplayViewer::Status(int language) const {
    auto caption = [language](const char* name) {
        return ui::CaptionFor(name, language).value_or("");
    };
    if (skipTo_)
        return caption("OverlayReplaySkip") + " " + LengthText(playback_->TicksRun()) + " / " +
               LengthText(*skipTo_);
    if (ended_)
        return endText_.empty()
                   ? caption("OverlayReplayEnded") + " (" + LengthText(playback_->TicksRun()) + ")"
                   : ui::MessageText(endText_, language);
    std::string status = caption("ReplayWatching");
    if (paused_)
        status += " — " + caption("ReplayPaused");
    else if (fast_)
        status += " — ×4";
    return status;
}

std::string VerifyReplay(std::span<const uint8_t> bytes, PageFiles& files) {
    std::string error;
    auto replay = Decode(bytes, files, error);
    if (!replay) return "error: " + error;
    adapters::VirtualWindow window;
    kdv::Services outer;
    outer.window = &window;
    files.keep = false;
    replay::Playback playback(std::move(*replay), files, outer);
    std::string result;
    if (!playback.Start()) {
        result = "error: the replay could not be started";
    } else {
        while (!window.closeRequested && playback.Step())
            if (window.failed) break;
        if (!window.failed && playback.TicksRun() == int64_t(playback.Data().header.ticks))
            playback.Finish();
        if (window.failed)
            result = "error: " + window.failure;
        else if (playback.PartedAt())
            result = "error: " + playback.PartedMessage();
        else
            result = HashLine(playback.Game(), long(playback.TicksRun()));
    }
    files.keep = true;
    return result;
}

}  // namespace web
