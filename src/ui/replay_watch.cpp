#include "ui/replay_watch.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "core/flow/main_form.h"
#include "core/game.h"
#include "replay/playback.h"
#include "ui/captions.h"

namespace ui {
namespace {

// Of the 13 ms timer tick, what a skip ahead takes for play: the rest draws and hears keys.
constexpr std::chrono::milliseconds kSkipSlice{6};
constexpr int64_t kMinuteTicks = 60'000 / kdv::kTimerInterval;
constexpr int kEndHoldTicks = 2000 / kdv::kTimerInterval;

}  // namespace

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

std::unique_ptr<ReplayWatch> ReplayWatch::Start(replay::Replay data, std::string name,
                                                kdv::FileSystem& files, kdv::Display* display,
                                                kdv::SoundDevice* sound, std::string& error) {
    std::unique_ptr<ReplayWatch> watch(new ReplayWatch());
    watch->name_ = std::move(name);
    kdv::Services outer;
    outer.display = display;
    outer.sound = sound;
    outer.window = &watch->window_;
    watch->playback_ = std::make_unique<replay::Playback>(std::move(data), files, outer);
    // The replayed game's start-up is not shown: its first tick is.
    watch->playback_->Show(false);
    if (!watch->playback_->Start()) {
        error.clear();
        for (const std::string& line : watch->window_.messages) error += line + "\n";
        if (error.empty()) error = "The replay could not be started.";
        return nullptr;
    }
    watch->playback_->Show(true);
    return watch;
}

ReplayWatch::~ReplayWatch() = default;

bool ReplayWatch::StepOnce() {
    if (!playback_->Step() || window_.failed || window_.closeRequested) {
        ReachedEnd();
        return false;
    }
    if (afterStep) afterStep();
    return true;
}

void ReplayWatch::ReachedEnd() {
    stopped_ = true;
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

void ReplayWatch::Tick() {
    if (stopped_) {
        if (holdTicks_ > 0) --holdTicks_;
        return;
    }
    if (skipTo_) {
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

bool ReplayWatch::KeyDown(int code) {
    if (stopped_) {
        // The end is being shown: Esc goes on at once.
        if (code != 27) return false;
        holdTicks_ = 0;
        return true;
    }
    switch (code) {
        case 'P':
            paused_ = !paused_;
            return true;
        case 'F':
            fast_ = !fast_;
            return true;
        case 27:
            stopped_ = true;  // stopped by the player: nothing to hold or tell
            return true;
        case 39:  // Right
        case 35:  // End
        {
            const int64_t end = playback_->Data().header.ticks;
            const int64_t from = skipTo_ ? *skipTo_ : playback_->TicksRun();
            skipTo_ = code == 35 ? end : std::min(end, from + kMinuteTicks);
            playback_->Show(false);
            return true;
        }
        default:
            return false;
    }
}

std::string ReplayWatch::ProgressLine(int language) const {
    if (skipTo_)
        return CaptionFor("OverlayReplaySkip", language).value_or("") + " " +
               LengthText(playback_->TicksRun()) + " / " + LengthText(*skipTo_);
    if (!stopped_ || (holdTicks_ == 0 && endText_.empty())) return {};  // Esc: nothing to say
    if (!endText_.empty()) return MessageText(endText_, language);
    return CaptionFor("OverlayReplayEnded", language).value_or("The replay has ended.") + " (" +
           LengthText(playback_->TicksRun()) + ")";
}

}  // namespace ui
