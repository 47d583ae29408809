#pragma once
// The game as its hosts drive it: the window, the page, the runner's scripts and the network
// session hand it their ticks, keys, menu commands and dialog Oks, and it runs each on the game
// with the replay recorder told of it in the one order the replays are made in. What the hosts
// keep to themselves: their devices and pacing, and the dialogs' contents while they are edited
// (the recorder finds those changed by itself at the next call).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/platform/services.h"
#include "replay/format.h"

namespace kdv {
struct Game;
}
namespace replay {
class Recorder;
}

namespace recording {

// What is recorded of the games played.
enum class Keep {
    Nothing,      // played without a recording
    Games,        // each game from the state it started in, handed over as it ends
    GamesAndRun,  // and the whole run from the program's start (--record, the page, the network)
};

class RecordedGame {
  public:
    explicit RecordedGame(Keep keep);
    // A game made elsewhere, played without a recording.
    explicit RecordedGame(kdv::Game& game);
    ~RecordedGame();
    RecordedGame(const RecordedGame&) = delete;
    RecordedGame& operator=(const RecordedGame&) = delete;

    // Makes the game on these devices, seen through the recorder. The caller owns it and keeps
    // it alive as long as this.
    std::unique_ptr<kdv::Game> Make(const kdv::Services& real);
    // The game has started up (FormActivate succeeded): the settings and data files now in
    // force open the recording, and what follows is recorded.
    void Begin();
    bool Begun() const;
    // The game took a state saved elsewhere, a network game's after ticksBefore ticks: the
    // whole run's recording starts from it (see Recorder::StartFrom for mask and clock).
    void StartFrom(int64_t ticksBefore, std::optional<uint32_t> mask = std::nullopt,
                   std::optional<uint32_t> clock = std::nullopt);
    kdv::Game& Game() const { return *game_; }

    // One tick of the frame timer.
    void Tick();
    // A key went down in the window (what the demonstration, the tally and the editor see).
    void KeyDown(int code, bool alt);
    // A menu command, or the window's own return to the title; false when there is none.
    bool Menu(std::string_view item);
    // Ok on the level selection with this stage and game (0 one player, 1 two, 2 duel): why it
    // was refused, or nothing once its game has started. The choice of game stays in the
    // dialog either way.
    std::optional<std::string> SelectOk(int stage, int gameItem);
    // Ok on the options dialog: its working copy becomes the settings.
    void OptionsOk();

    // Each game as it ends (return to the title, the demonstration or the editor, or another
    // game started), once; unset, ended games are dropped.
    std::function<void(const replay::Replay&)> onGameEnded;
    // The game still in progress, if any (the program is closing).
    std::optional<replay::Replay> GameInProgress() const;
    // The whole run since Begin; empty unless kept.
    replay::Replay Whole() const;
    // Ticks recorded since Begin, and bytes of stream held in memory.
    int64_t Ticks() const;
    size_t StreamBytes() const;
    // The clock of the recordings' start times (milliseconds since 1970); the system's unless set.
    void SetWallClock(std::function<int64_t()> clock);

  private:
    void PassEndedGame();

    std::unique_ptr<replay::Recorder> recorder_;  // none: not recorded
    kdv::Game* game_ = nullptr;
};

}  // namespace recording
