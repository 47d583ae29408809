#pragma once
// Records a replay while the game runs: it stands between the game and its input device, clock
// and display, and hears of the window's keys and menu commands before they reach the game.
// It keeps everything from program start; a file is cut from it for each game (the game before
// it is part of the file, so the game plays back exactly as it was).
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
    Recorder();
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // The services to make the game with: the same devices, seen through the recorder.
    kdv::Services Wrap(const kdv::Services& real);
    // The game has started up (FormActivate succeeded): the settings and data files now in
    // force open the header. files is where the data files are read from.
    void Begin(const kdv::Game& game, kdv::FileSystem& files);
    bool Begun() const { return begun_; }

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
    // The whole stream so far, kept for the last game started (or for none).
    Replay Whole() const;
    // A game that has just ended (return to the title, the demo or the editor, or a new game
    // started from the menu), once: the stream up to its end, with its start as watchFrom.
    std::optional<Replay> TakeFinishedGame();
    // The game still in progress, if any (the program is closing).
    std::optional<Replay> GameInProgress() const;

  private:
    class Input;
    class Clock;
    class Display;
    struct GameSpan {
        int64_t startTick = 0;
        uint8_t mode = 0;
        int32_t stage = 0;
    };

    void FlushTicks();
    void Push(Event::Kind kind, int64_t a, int32_t b = 0);
    // Settings and dialog contents changed since the last event, by the window or a dialog.
    void NoteChanges(const kdv::Game& game);
    // After something the playback repeats itself: what it changed needs no event.
    void Replayed(const kdv::Game& game);
    void TrackGame(const kdv::Game& game);
    Replay Cut(const GameSpan* span, int64_t watchFrom) const;
    void ReadInput(uint32_t mask);
    void ReadClock(uint32_t value);

    std::unique_ptr<Input> input_;
    std::unique_ptr<Clock> clock_;
    std::unique_ptr<Display> display_;

    Replay stream_;
    bool begun_ = false;
    int64_t ticks_ = 0;
    int64_t pendingTicks_ = 0;
    uint32_t mask_ = 0;
    uint32_t lastClock_ = 0;
    PlaySettings settings_;
    DialogState dialogs_;
    bool menuReplayed_ = false;  // the last menu item is one the playback clicks
    std::optional<GameSpan> current_, lastStarted_;
    std::optional<Replay> finished_;
};

// The play settings of a game as they stand, and what its dialogs hold.
PlaySettings SettingsOf(const kdv::Game& game);
DialogState DialogsOf(const kdv::Game& game);
// The mask of binding slots that are down on the device, in the order of the input mask.
uint32_t BindingMask(const kdv::Settings& settings, const kdv::InputDevice& device);

}  // namespace replay
