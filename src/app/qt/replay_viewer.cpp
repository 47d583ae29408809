#include "app/qt/replay_viewer.h"

#include <filesystem>
#include <iostream>

#include "app/runner/command_line.h"
#include "app/runner/script.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "replay/playback.h"
#include "ui/captions.h"
#include "ui/replay_watch.h"

namespace app {
namespace {

constexpr int kKeysTicks = 4000 / kdv::kTimerInterval;

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
    const std::string name = std::filesystem::path(file).filename().string();
    if (auto refusal = replay::CheckReplay(*data, *player.io.files)) {
        error = name + ": " + *refusal;
        return nullptr;
    }
    std::unique_ptr<ReplayViewer> viewer(new ReplayViewer(player, host, script, scriptTicks));
    viewer->watch_ =
        ui::ReplayWatch::Start(std::move(*data), name, *player.io.files, &display,
                               player.Settings.soundEnable ? player.io.sound : nullptr, error);
    if (!viewer->watch_) return nullptr;
    viewer->watch_->afterStep = [v = viewer.get()] { v->TakeOutputs(); };
    viewer->keysTicks_ = kKeysTicks;
    return viewer;
}

// The script's dumps of the tick just run.
void ReplayViewer::TakeOutputs() {
    if (!script_) return;
    replay::Playback& playback = watch_->Playback();
    const long tick = long(playback.TicksRun());
    try {
        script_->ApplyOutputs(tick, playback.Game(), tick);
        scriptTicks_ = tick;
    } catch (const std::exception& error) {
        std::cerr << "kordavel: " << error.what() << "\n";
        host_.NoteExitCode(runner::kExitStartup);
    }
}

void ReplayViewer::Tick() {
    if (keysTicks_ > 0) --keysTicks_;
    watch_->Tick();
}

bool ReplayViewer::Ended() const {
    return watch_->Ended();
}

bool ReplayViewer::Pause() {
    watch_->TogglePause();
    return true;
}

std::string ReplayViewer::Finish() {
    const std::string& text = watch_->EndText();
    if (text.empty()) return text;
    std::cerr << "kordavel: " << text << "\n";
    host_.NoteExitCode(watch_->Failed() ? runner::kExitGameError : runner::kExitReplay);
    return text;
}

void ReplayViewer::KeyDown(int code, bool) {
    if (watch_->KeyDown(code)) keysTicks_ = 0;  // the player knows the keys
}

std::string ReplayViewer::Title() const {
    const int language = player_.Settings.language;
    auto caption = [language](const char* name, const char* fallback) {
        return ui::CaptionFor(name, language).value_or(fallback);
    };
    std::string title = " Kordavel - " + caption("ReplayWatching", "Replay");
    if (watch_->Paused())
        title += " - " + caption("ReplayPaused", "paused");
    else if (watch_->Fast())
        title += " - ×4";
    return title;
}

std::vector<std::string> ReplayViewer::Overlay() const {
    const int language = player_.Settings.language;
    if (std::string line = watch_->ProgressLine(language); !line.empty()) return {line};
    if (watch_->Stopped()) return {};
    if (watch_->Paused()) return {ui::CaptionFor("OverlayReplayPaused", language).value_or("")};
    if (watch_->Fast()) return {ui::CaptionFor("OverlayReplayFast", language).value_or("")};
    if (keysTicks_ > 0) return {ui::CaptionFor("OverlayReplayKeys", language).value_or("")};
    return {};
}

}  // namespace app
