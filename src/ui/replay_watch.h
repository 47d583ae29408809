#pragma once
// A replay being watched, as the window and the page both play it: P pauses, F plays four ticks
// a timer tick, → skips a minute ahead and End to the end (unseen, a slice of each timer tick at
// a time, so the picture keeps answering), Esc stops. At its end, where it parts from the
// recorded game, or where its game fails or closes, it holds the last picture two seconds.
// The window and the page only present it and say its lines in their own places.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "adapters/virtual_devices.h"
#include "replay/format.h"

namespace kdv {
class Display;
class FileSystem;
class SoundDevice;
}  // namespace kdv
namespace replay {
class Playback;
}

namespace ui {

// m:ss, or h:mm:ss, of a number of ticks, as replay lists show lengths.
std::string LengthText(int64_t ticks);

class ReplayWatch {
  public:
    // Makes the replayed game, its start-up unseen; null with error set (the replayed game's
    // own messages, when it gave any) when it could not be started. name: the file's, for the
    // messages; display and sound may be null.
    static std::unique_ptr<ReplayWatch> Start(replay::Replay data, std::string name,
                                              kdv::FileSystem& files, kdv::Display* display,
                                              kdv::SoundDevice* sound, std::string& error);
    ~ReplayWatch();

    // One timer tick.
    void Tick();
    // P, F, Esc, → (39) and End (35); true when the key did something.
    bool KeyDown(int code);
    void TogglePause() { paused_ = !paused_; }

    bool Paused() const { return paused_; }
    bool Fast() const { return fast_; }
    // Stopped by its end or by Esc; the end may still be held over the picture.
    bool Stopped() const { return stopped_; }
    bool Ended() const { return stopped_ && holdTicks_ == 0; }
    bool Failed() const { return window_.failed; }
    // Where it parted from its game, or how its game failed (in English, as the game's
    // messages are); empty when it played to its end or was stopped.
    const std::string& EndText() const { return endText_; }
    // What is shown while skipping ("Skipping… 1:02 / 3:00") or once it has ended, in the
    // language; empty otherwise.
    std::string ProgressLine(int language) const;
    replay::Playback& Playback() { return *playback_; }

    // Called after each tick played (a script takes its dumps there).
    std::function<void()> afterStep;

  private:
    ReplayWatch() = default;
    bool StepOnce();
    void ReachedEnd();

    adapters::VirtualWindow window_;  // the replayed game's messages and close
    std::unique_ptr<replay::Playback> playback_;
    std::string name_;
    std::optional<int64_t> skipTo_;  // the tick a skip ahead runs to
    bool paused_ = false;
    bool fast_ = false;
    bool stopped_ = false;
    int holdTicks_ = 0;  // the end is held over the picture this many ticks more
    std::string endText_;
};

}  // namespace ui
