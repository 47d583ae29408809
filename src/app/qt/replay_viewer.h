#pragma once
// A replay watched in the window: its own game on devices that answer from the file, shown and
// heard as the player's would be. P pauses, F plays four ticks a timer tick, Right skips a
// minute ahead and End to the end (unseen, a few milliseconds of play per timer tick, so the
// window keeps answering), Esc stops; the keys are shown over the picture for the first seconds.
// The replay ends by itself at the end of the file, or where it parts from the recorded game,
// and then says so over its last picture for a moment before the title comes back.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "adapters/virtual_devices.h"
#include "app/qt/play_session.h"

namespace kdv {
struct Game;
class Display;
}  // namespace kdv
namespace replay {
class Playback;
}
namespace runner {
class ScriptPlayer;
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
    bool Ended() const override { return ended_ && holdTicks_ == 0; }
    // File -> Pause pauses the replay.
    bool Pause() override {
        paused_ = !paused_;
        return true;
    }
    // Where the replay parted from the recorded game, or why the game failed; empty otherwise.
    std::string Finish() override;

  private:
    ReplayViewer(kdv::Game& player, SessionHost& host, runner::ScriptPlayer* script,
                 long& scriptTicks);
    bool TakeOutputs();
    // One tick of the replay; false once it has ended.
    bool StepOnce();
    // The replay has come to its end by itself: what to say, held over its last picture.
    void ReachedEnd();

    kdv::Game& player_;
    SessionHost& host_;
    runner::ScriptPlayer* script_;
    long& scriptTicks_;
    std::string name_;                // the file's name, for messages
    adapters::VirtualWindow window_;  // the replayed game's messages and close
    std::unique_ptr<replay::Playback> playback_;
    std::optional<int64_t> skipTo_;  // the tick a skip ahead runs to
    bool paused_ = false;
    bool fast_ = false;
    bool ended_ = false;
    int holdTicks_ = 0;    // the end is held over the picture this many ticks more
    int keysTicks_ = 0;    // the keys are shown this many ticks more
    std::string endLine_;  // what the held end says over the picture
    std::string endText_;  // what the player is told once it has ended (a part, a failure)
};

}  // namespace app
