#pragma once
// Plays a replay: a game made afresh on devices that answer from the stream, with the data
// files checked against the ones the recording was made with. The player's own files are never
// written: the level editor's appends stay in memory.
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "core/platform/services.h"
#include "replay/format.h"
#include "replay/mask_input.h"

namespace kdv {
struct Game;
}

namespace replay {

// Reads and decodes a replay file; nullopt with error set when it cannot be played.
std::optional<Replay> LoadReplay(const std::string& path, std::string& error);
// Writes a replay file (through a temporary, so a crash never leaves half a file).
bool SaveReplay(const std::string& path, const Replay& replay, std::string& error);

// Why the replay cannot be played here (another version, other data files), or nothing.
std::optional<std::string> CheckReplay(const Replay& replay, kdv::FileSystem& disk);

class Playback {
  public:
    // disk: where the data files are; outer: the devices a viewer sees and hears (display,
    // sound; either may be null) and the window that receives the game's messages.
    Playback(Replay replay, kdv::FileSystem& disk, const kdv::Services& outer);
    ~Playback();

    const Replay& Data() const { return replay_; }
    // Makes the game; false when its data files could not be read (a message went to the
    // window). Call CheckReplay first.
    bool Start();
    kdv::Game& Game() { return *game_; }
    // Applies the stream up to the next tick and runs it; false at the end of the stream.
    bool Step();
    int64_t TicksRun() const { return ticksRun_; }
    bool Finished() const;
    // False when the game asked for more clock readings than were recorded, or fewer, or
    // refused a recorded level selection: the replay did not play as it was recorded.
    bool InStep() const;
    // Frames are shown only while this is on (a viewer skips the part before the game).
    void Show(bool on);

  private:
    class Files;
    class Clock;
    class Display;
    class Sound;
    void Apply(const Event& e);

    Replay replay_;
    std::unique_ptr<Files> files_;
    std::unique_ptr<MaskInput> input_;
    std::unique_ptr<Clock> clock_;
    std::unique_ptr<Display> display_;
    std::unique_ptr<Sound> sound_;
    kdv::Services services_;
    std::unique_ptr<kdv::Game> game_;
    size_t next_ = 0;        // next event
    int64_t ticksLeft_ = 0;  // of the current run of ticks
    int64_t ticksRun_ = 0;
    bool diverged_ = false;
};

}  // namespace replay
