#pragma once
// A replay watched in the window (ui/replay_watch.h plays it): its own game on devices that
// answer from the file, shown and heard as the player's would be; the keys are shown over the
// picture for the first seconds, and what the end says is held over its last picture for a
// moment before the title comes back.
#include <cstdint>
#include <memory>
#include <string>

#include "app/qt/play_session.h"

namespace kdv {
struct Game;
class Display;
}  // namespace kdv
namespace runner {
class ScriptPlayer;
}
namespace ui {
class ReplayWatch;
}

namespace app {

class ReplayViewer : public PlaySession {
  public:
    // Loads the replay and plays, unseen and flat out, the part before its game; null with error
    // set when it cannot be played here. player: the player's game, whose data files, sound and
    // language it shares. A script takes its dumps at the replay's ticks; scriptTicks follows the
    // last tick whose dumps were taken.
    static std::unique_ptr<ReplayViewer> Open(const std::string& file, kdv::Game& player,
                                              kdv::Display& display, SessionHost& host,
                                              runner::ScriptPlayer* script, long& scriptTicks,
                                              std::string& error);
    ~ReplayViewer() override;

    void Tick() override;
    bool KeysToDevices() const override { return false; }  // the player's game hears nothing
    void KeyDown(int code, bool alt) override;
    std::string Title() const override;
    std::vector<std::string> Overlay() const override;
    bool Ended() const override;
    // File -> Pause pauses the replay.
    bool Pause() override;
    // Where the replay parted from the recorded game, or why the game failed; empty otherwise.
    std::string Finish() override;

  private:
    ReplayViewer(kdv::Game& player, SessionHost& host, runner::ScriptPlayer* script,
                 long& scriptTicks);
    void TakeOutputs();

    kdv::Game& player_;
    SessionHost& host_;
    runner::ScriptPlayer* script_;
    long& scriptTicks_;
    std::unique_ptr<ui::ReplayWatch> watch_;
    int keysTicks_ = 0;  // the keys are shown this many ticks more
};

}  // namespace app
