#pragma once
// Records a replay while the game runs: it stands between the game and its input device, clock,
// display and files, and hears of the window's keys and menu commands before they reach the
// game. Each game is recorded from the state it started in, so its replay holds that game only;
// the stream from the program's start is kept as well when asked for (--record).
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "core/platform/services.h"
#include "replay/format.h"

namespace kdv {
struct Game;
}

namespace replay {

class Recorder {
  public:
    // keepWhole: keep the stream from the program's start too, for Whole().
    explicit Recorder(bool keepWhole = true);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // The services to make the game with: the same devices, seen through the recorder.
    kdv::Services Wrap(const kdv::Services& real);
    // The game has started up (FormActivate succeeded): the settings and data files now in
    // force open the header. files is where the data files are read from.
    void Begin(const kdv::Game& game, kdv::FileSystem& files);
    bool Begun() const { return begun_; }
    // After Begin: the game has just taken a state saved elsewhere after ticksBefore ticks of a
    // network game (a joiner that came back, a spectator that came in). Everything recorded so
    // far is dropped: the whole stream starts from this state, as a kept game's does, in the
    // game being played, and counts its ticks on from there. mask is the input that tick read,
    // clock the clock's reading then; unset, the input is what the devices read now and the
    // clock its last reading.
    void StartFrom(const kdv::Game& game, int64_t ticksBefore,
                   std::optional<uint32_t> mask = std::nullopt,
                   std::optional<uint32_t> clock = std::nullopt);

    // Call just before each timer tick, and after it.
    void BeforeTick(const kdv::Game& game);
    void AfterTick(const kdv::Game& game);
    // A key went down in the window / a menu item was chosen: call before the game hears of
    // it, and AfterAction once it has.
    void KeyDown(const kdv::Game& game, int code);
    void MenuItem(const kdv::Game& game, std::string_view item);
    void AfterAction(const kdv::Game& game);
    // A dialog's Ok: call BeforeAction, then the core's handler, then LevelSelected once the
    // level selection has started its game, or OptionsAccepted after the options' Ok.
    void BeforeAction(const kdv::Game& game);
    void LevelSelected(const kdv::Game& game, int stage, int gameItem);
    void OptionsAccepted(const kdv::Game& game);

    int64_t Ticks() const { return ticks_; }
    // The whole stream since Begin (only when kept).
    Replay Whole() const;
    // A game that has just ended (return to the title, the demo or the editor, or a new game
    // started from the menu), once: from the state after its first tick to its end.
    std::optional<Replay> TakeFinishedGame();
    // The game still in progress, if any (the program is closing).
    std::optional<Replay> GameInProgress() const;
    // Bytes of stream held in memory.
    size_t StreamBytes() const;

    // The wall clock of the recordings' start times, in milliseconds since 1970.
    std::function<int64_t()> wallClock;

  private:
    class Input;
    class Clock;
    class Display;
    class Files;
    struct Track;
    struct GameSpan {
        uint8_t mode = 0;
        int32_t stage = 0;
    };

    Track NewTrack(const kdv::Game& game) const;
    // A stream from the game's state as it stands, read with the last tick's input and clock,
    // after tick ticks of the game span (when one is played).
    Track TrackFromHere(const kdv::Game& game, std::optional<GameSpan> span, int64_t tick) const;
    void FlushTicks();
    void Push(const Event& e);
    void Push(Event::Kind kind, int64_t a, int32_t b = 0);
    // Settings and dialog contents changed since the last event, by the window or a dialog.
    void NoteChanges(const kdv::Game& game);
    // After something the playback repeats itself: what it changed needs no event.
    void Replayed(const kdv::Game& game);
    void TrackGame(const kdv::Game& game);
    void EndGame(std::optional<uint64_t> lastHash = std::nullopt);
    Replay Cut(const Track& track, std::optional<uint64_t> lastHash = std::nullopt) const;
    void ReadInput(uint32_t mask);
    void ReadClock(uint32_t value);
    void ReadLevels(uint64_t offset, const std::vector<uint8_t>& bytes);
    void Wrote(bool ok);

    std::unique_ptr<Input> input_;
    std::unique_ptr<Clock> clock_;
    std::unique_ptr<Display> display_;
    std::unique_ptr<Files> files_;
    const kdv::Game* game_ = nullptr;

    bool keepWhole_;
    std::unique_ptr<Track> whole_, current_;
    bool begun_ = false;
    int64_t ticks_ = 0;
    int64_t pendingTicks_ = 0;
    uint32_t mask_ = 0;
    uint32_t lastClock_ = 0;
    PlaySettings settings_;
    DialogState dialogs_;
    std::array<DataFile, kDataFiles.size()> data_{};
    bool menuReplayed_ = false;  // the last menu item is one the playback clicks
    std::optional<GameSpan> playing_;  // a game is in progress (its track opens after a tick)
    std::optional<GameSpan> lastStarted_;
    std::optional<uint64_t> endHash_;
    std::optional<Replay> finished_;
};

// The play settings of a game as they stand, and what its dialogs hold.
PlaySettings SettingsOf(const kdv::Game& game);
DialogState DialogsOf(const kdv::Game& game);
// The mask of binding slots that are down on the device, in the order of the input mask.
uint32_t BindingMask(const kdv::Settings& settings, const kdv::InputDevice& device);
// The hash stored at checkpoints: the quick state hash without the tick count, so that it does
// not depend on where the stream began.
uint64_t CheckpointHash(const kdv::Game& game);
// The identity of the level records read: a hash over the hashes of the records marked in read.
uint64_t LevelsHash(const std::vector<uint64_t>& recordHashes, const std::vector<uint8_t>& read);

}  // namespace replay
