#pragma once
// A replay watched in the page: its own game on devices that answer from the file, shown on the
// page's canvas and heard on its speakers, while the player's game waits as it was. P pauses, F
// plays four ticks a frame, Esc stops; it ends by itself at the end of the file, where it parts
// from the recorded game, or where its game fails or closes.
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "adapters/virtual_devices.h"
#include "web/play_session.h"
#include "web/web_devices.h"

namespace kdv {
struct Game;
}
namespace replay {
class Playback;
}

namespace web {

class ReplayViewer : public PlaySession {
  public:
    // Null with error set when the bytes are no replay or it cannot be played here. player: the
    // player's game, whose sound settings it follows.
    static std::unique_ptr<ReplayViewer> Open(std::span<const uint8_t> bytes,
                                              const kdv::Game& player, PageFiles& files,
                                              kdv::Display& display, kdv::SoundDevice& sound,
                                              std::string& error);
    ~ReplayViewer() override;

    void Tick() override;
    bool KeysToDevices() const override { return false; }  // the player's game hears nothing
    void KeyDown(int code, bool alt) override;
    bool Ended() const override { return ended_; }
    bool Paused() const { return paused_; }
    bool Fast() const { return fast_; }

  private:
    ReplayViewer() = default;

    adapters::VirtualWindow window_;  // the replayed game's messages and close
    std::unique_ptr<replay::Playback> playback_;
    bool paused_ = false;
    bool fast_ = false;
    bool ended_ = false;
};

// Plays a replay to its end unseen: "ticks=N hash=H" as the desktop's --verify prints it, or
// "error: ..." with why it could not be played or where it parted from its game.
std::string VerifyReplay(std::span<const uint8_t> bytes, PageFiles& files);

}  // namespace web
