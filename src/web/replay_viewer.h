#pragma once
// A replay watched in the page: its own game on devices that answer from the file, shown on the
// page's canvas and heard on its speakers, while the player's game waits as it was. As in the
// window: P pauses, F plays four ticks a frame, → skips a minute ahead and End to the end, Esc
// stops; at its end, where it parts from the recorded game, or where its game fails or closes,
// it holds the last picture two seconds and then tells why it stopped, if it was not its end.
#include <cstdint>
#include <memory>
#include <optional>
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
    // name: the file's, for the messages.
    static std::unique_ptr<ReplayViewer> Open(std::span<const uint8_t> bytes, std::string name,
                                              const kdv::Game& player, PageFiles& files,
                                              kdv::Display& display, kdv::SoundDevice& sound,
                                              std::string& error);
    ~ReplayViewer() override;

    void Tick() override;
    bool KeysToDevices() const override { return false; }  // the player's game hears nothing
    void KeyDown(int code, bool alt) override;
    bool Ended() const override { return ended_ && holdTicks_ == 0; }
    bool Paused() const { return paused_; }
    bool Fast() const { return fast_; }
    // What the page's status line says, in the language: the keys, or what is being done.
    std::string Status(int language) const;
    // Why it stopped, for a message (in English, as the game's messages): where it parted from
    // its game or how its game failed; empty when it played to its end or was stopped.
    const std::string& EndText() const { return endText_; }

  private:
    ReplayViewer() = default;
    bool StepOnce();
    void ReachedEnd();

    adapters::VirtualWindow window_;  // the replayed game's messages and close
    std::unique_ptr<replay::Playback> playback_;
    std::string name_;
    bool paused_ = false;
    bool fast_ = false;
    bool ended_ = false;
    int holdTicks_ = 0;              // the end still shown
    std::optional<int64_t> skipTo_;  // → or End: the tick played unseen up to
    std::string endText_;
};

// Plays a replay to its end unseen: "ticks=N hash=H" as the desktop's --verify prints it, or
// "error: ..." with why it could not be played or where it parted from its game.
std::string VerifyReplay(std::span<const uint8_t> bytes, PageFiles& files);

}  // namespace web
