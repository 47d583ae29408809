#pragma once
// A replay watched in the page: its own game on devices that answer from the file, shown on the
// page's canvas and heard on its speakers, while the player's game waits as it was; it is played
// as in the window (ui/replay_watch.h), and the page's status line says what it is doing.
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "ui/replay_watch.h"
#include "web/play_session.h"
#include "web/web_devices.h"

namespace kdv {
struct Game;
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
    void KeyDown(int code, bool) override { watch_->KeyDown(code); }
    bool Ended() const override { return watch_->Ended(); }
    bool Paused() const { return watch_->Paused(); }
    bool Fast() const { return watch_->Fast(); }
    // What the page's status line says, in the language: the keys, or what is being done.
    std::string Status(int language) const;
    // Why it stopped, for a message (in English, as the game's messages): where it parted from
    // its game or how its game failed; empty when it played to its end or was stopped.
    const std::string& EndText() const { return watch_->EndText(); }

  private:
    ReplayViewer() = default;

    std::unique_ptr<ui::ReplayWatch> watch_;
};

// Plays a replay to its end unseen: "ticks=N hash=H" as the desktop's --verify prints it, or
// "error: ..." with why it could not be played or where it parted from its game.
std::string VerifyReplay(std::span<const uint8_t> bytes, PageFiles& files);

}  // namespace web
