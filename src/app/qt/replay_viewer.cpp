#include "app/qt/replay_viewer.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>

#include "app/qt/replay_list.h"
#include "app/runner/command_line.h"
#include "app/runner/script.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "replay/playback.h"
#include "ui/captions.h"

namespace app {
namespace {

// Of the frame timer's 13 ms, what a skip ahead takes for play: the rest draws and hears keys.
constexpr std::chrono::milliseconds kSkipSlice{6};
constexpr int64_t kMinuteTicks = 60'000 / kdv::kTimerInterval;
constexpr int kKeysTicks = 4000 / kdv::kTimerInterval;
constexpr int kEndHoldTicks = 2000 / kdv::kTimerInterval;

}  // namespace

ReplayViewer::ReplayViewer(kdv::Game& player, SessionHost& host, runner::ScriptPlayer* script,
                           long& scriptTicks)
    : player_(player), host_(host), script_(script), scriptTicks_(scriptTicks) {}

ReplayViewer::~ReplayViewer() = default;

std::unique_ptr<ReplayViewer> ReplayViewer::Open(const std::string& file, kdv::Game& player,
                                                 kdv::Display& display, SessionHost& host,
                                                 runner::ScriptPlayer* script, long& scriptTicks,
                                                 std::string& error) {
    auto data = replay::LoadReplay(file, error);
    if (!data) return nullptr;
    if (auto refusal = replay::CheckReplay(*data, *player.io.files)) {
        error = std::filesystem::path(file).filename().string() + ": " + *refusal;
        return nullptr;
    }
    std::unique_ptr<ReplayViewer> viewer(new ReplayViewer(player, host, script, scriptTicks));
    viewer->name_ = std::filesystem::path(file).filename().string();
    kdv::Services outer;
    outer.display = &display;
    outer.sound = player.Settings.soundEnable ? player.io.sound : nullptr;
    outer.window = &viewer->window_;
    viewer->playback_ =
        std::make_unique<replay::Playback>(std::move(*data), *player.io.files, outer);
    replay::Playback& playback = *viewer->playback_;
    // The replayed game's start-up is not shown: its first tick is.
    playback.Show(false);
    if (!playback.Start()) {
        error.clear();
        for (const std::string& line : viewer->window_.messages) error += line + "\n";
        if (error.empty()) error = "The replay could not be started.";
        return nullptr;
    }
    playback.Show(true);
    viewer->keysTicks_ = kKeysTicks;
    return viewer;
}

// The script's dumps of the tick just run; false when one could not be written.
bool ReplayViewer::TakeOutputs() {
    if (!script_) return true;
    const long tick = long(playback_->TicksRun());
    try {
        script_->ApplyOutputs(tick, playback_->Game(), tick);
        scriptTicks_ = tick;
    } catch (const std::exception& error) {
        std::cerr << "kordavel: " << error.what() << "\n";
        host_.NoteExitCode(runner::kExitStartup);
        return false;
    }
    return true;
}

bool ReplayViewer::StepOnce() {
    if (!playback_->Step() || window_.failed || window_.closeRequested) {
        ReachedEnd();
        return false;
    }
    TakeOutputs();
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
    const int language = player_.Settings.language;
    if (window_.failed)
        endText_ = name_ + ": " + window_.failure;
    else if (playback_->PartedAt())
        endText_ = name_ + ": " + playback_->PartedMessage();
    if (!endText_.empty())
        endLine_ = ui::MessageText(endText_, language);
    else
        endLine_ =
            ui::CaptionFor("OverlayReplayEnded", language).value_or("The replay has ended.") +
            " (" + LengthText(playback_->TicksRun()) + ")";
}

void ReplayViewer::Tick() {
    if (keysTicks_ > 0) --keysTicks_;
    if (ended_) {
        if (holdTicks_ > 0) --holdTicks_;
        return;
    }
    if (skipTo_) {
        // As many ticks as fit in a slice of the timer's interval: the window keeps drawing and
        // hearing keys however far the skip goes.
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

std::string ReplayViewer::Finish() {
    const std::string text = endText_;
    if (text.empty()) return text;
    std::cerr << "kordavel: " << text << "\n";
    host_.NoteExitCode(window_.failed ? runner::kExitGameError : runner::kExitReplay);
    return text;
}

void ReplayViewer::KeyDown(int code, bool) {
    if (ended_) {
        // The end is being shown: Esc goes on to the title at once.
        if (code == 27) holdTicks_ = 0;
        return;
    }
    switch (code) {
        case 'P':
            paused_ = !paused_;
            keysTicks_ = 0;  // the player knows the keys
            break;
        case 'F':
            fast_ = !fast_;
            keysTicks_ = 0;
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
            keysTicks_ = 0;
            playback_->Show(false);
            break;
        }
        default:
            break;
    }
}

std::string ReplayViewer::Title() const {
    const int language = player_.Settings.language;
    auto caption = [language](const char* name, const char* fallback) {
        return ui::CaptionFor(name, language).value_or(fallback);
    };
    std::string title = " Kordavel - " + caption("ReplayWatching", "Replay");
    if (paused_)
        title += " - " + caption("ReplayPaused", "paused");
    else if (fast_)
        title += " - ×4";
    return title;
}

std::vector<std::string> ReplayViewer::Overlay() const {
    const int language = player_.Settings.language;
    if (skipTo_)
        return {ui::CaptionFor("OverlayReplaySkip", language).value_or("") + " " +
                LengthText(playback_->TicksRun()) + " / " + LengthText(*skipTo_)};
    if (ended_ && !endLine_.empty()) return {endLine_};
    if (paused_) return {ui::CaptionFor("OverlayReplayPaused", language).value_or("")};
    if (fast_) return {ui::CaptionFor("OverlayReplayFast", language).value_or("")};
    if (keysTicks_ > 0) return {ui::CaptionFor("OverlayReplayKeys", language).value_or("")};
    return {};
}

}  // namespace app
