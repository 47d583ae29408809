#include "web/replay_viewer.h"

#include "core/game.h"
#include "replay/format.h"
#include "replay/playback.h"

namespace web {
namespace {

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

std::unique_ptr<ReplayViewer> ReplayViewer::Open(std::span<const uint8_t> bytes,
                                                 const kdv::Game& player, PageFiles& files,
                                                 kdv::Display& display, kdv::SoundDevice& sound,
                                                 std::string& error) {
    auto replay = Decode(bytes, files, error);
    if (!replay) return nullptr;
    std::unique_ptr<ReplayViewer> viewer(new ReplayViewer());
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

void ReplayViewer::Tick() {
    if (paused_ || ended_) return;
    for (int i = 0; i < (fast_ ? 4 : 1); ++i)
        if (!playback_->Step() || window_.failed || window_.closeRequested) {
            ended_ = true;
            return;
        }
}

void ReplayViewer::KeyDown(int code, bool) {
    if (code == 27) ended_ = true;
    if (code == 'P') paused_ = !paused_;
    if (code == 'F') fast_ = !fast_;
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
