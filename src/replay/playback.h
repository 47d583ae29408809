#pragma once
// Plays a replay: a game made afresh on devices that answer from the stream, with the data
// files checked against the ones the recording was made with, and the state hashes of the
// stream compared as they come. The player's own files are never written: the game's writes go
// to memory, and succeed or fail as they did when the replay was recorded.
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
// Deletes the temporary that a SaveReplay to path killed before its rename left behind: a run
// that is to write path calls it at its start, so that the leftover goes even if this run is
// killed too.
void RemoveLeftover(const std::string& path);

// Why the replay cannot be played here (another build, other data files), or nothing.
std::optional<std::string> CheckReplay(const Replay& replay, kdv::FileSystem& disk);

// Runs one of kMenuItems on the game, the window's own steps included; false when unknown.
bool RunMenuItem(kdv::Game& game, std::string_view item);

class Playback {
  public:
    // disk: where the data files are; outer: the devices a viewer sees and hears (display,
    // sound; either may be null) and the window that receives the game's messages.
    Playback(Replay replay, kdv::FileSystem& disk, const kdv::Services& outer);
    ~Playback();

    const Replay& Data() const { return replay_; }
    // Makes the game in the state the recording began in; false when its data files could not
    // be read (a message went to the window). Call CheckReplay first.
    bool Start();
    kdv::Game& Game() { return *game_; }
    // Applies the stream up to the next tick and runs it; false at the end of the stream or
    // once the game has parted from the recording.
    bool Step();
    // After the last tick: applies what the stream holds after it and compares the last state.
    void Finish();
    int64_t TicksRun() const { return ticksRun_; }
    bool Finished() const;
    // The tick at which the game was seen to part from the recording (another state hash,
    // another clock reading or file write than recorded, a level selection refused).
    std::optional<int64_t> PartedAt() const { return partedAt_; }
    // "the replay parts from the game at tick T", or empty.
    std::string PartedMessage() const;
    // Frames are shown only while this is on.
    void Show(bool on);

  private:
    class Files;
    class Clock;
    class Display;
    class Sound;
    void Apply(const Event& e);
    // The next event, when it is of this kind and due now; the game parts otherwise.
    std::optional<Event> Take(Event::Kind kind);
    void Part();

    Replay replay_;
    EventReader events_;
    std::unique_ptr<Files> files_;
    std::unique_ptr<MaskInput> input_;
    std::unique_ptr<Clock> clock_;
    std::unique_ptr<Display> display_;
    std::unique_ptr<Sound> sound_;
    kdv::Services services_;
    std::unique_ptr<kdv::Game> game_;
    int64_t ticksLeft_ = 0;  // of the current run of ticks
    int64_t ticksRun_ = 0;
    bool inTick_ = false;
    bool starting_ = false;
    std::optional<int64_t> partedAt_;
};

}  // namespace replay
