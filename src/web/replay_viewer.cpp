#include "web/replay_viewer.h"

#include "adapters/virtual_devices.h"
#include "core/game.h"
#include "replay/format.h"
#include "replay/playback.h"
#include "ui/captions.h"

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

std::unique_ptr<ReplayViewer> ReplayViewer::Open(std::span<const uint8_t> bytes, std::string name,
                                                 const kdv::Game& player, PageFiles& files,
                                                 kdv::Display& display, kdv::SoundDevice& sound,
                                                 std::string& error) {
    auto replay = Decode(bytes, files, error);
    if (!replay) return nullptr;
    std::unique_ptr<ReplayViewer> viewer(new ReplayViewer());
    // The replayed game's start-up writes stay in memory.
    files.keep = false;
    viewer->watch_ = ui::ReplayWatch::Start(
        std::move(*replay), std::move(name), files, &display,
        player.Settings.soundEnable && !player.SoundUnavailable ? &sound : nullptr, error);
    files.keep = true;
    if (!viewer->watch_) return nullptr;
    return viewer;
}

ReplayViewer::~ReplayViewer() = default;

void ReplayViewer::Tick() {
    watch_->Tick();
}

std::string ReplayViewer::Status(int language) const {
    if (std::string line = watch_->ProgressLine(language); !line.empty()) return line;
    std::string status = ui::CaptionFor("ReplayWatching", language).value_or("");
    if (watch_->Paused())
        status += " — " + ui::CaptionFor("ReplayPaused", language).value_or("");
    else if (watch_->Fast())
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
