#pragma once
// The player's own game: the frame timer's tick runs its game step, the window's keys reach its
// key handler, and the menu's commands are its own. A script (automated checks) feeds it keys and
// takes dumps; every game it plays is recorded and kept.
#include <filesystem>
#include <optional>
#include <string>

#include "app/qt/play_session.h"
#include "app/runner/script.h"

namespace kdv {
struct Game;
}
namespace recording {
class RecordedGame;
}
namespace replay {
struct Replay;
}

namespace app {

class SdlInput;

class LocalGame : public PlaySession {
  public:
    LocalGame(SessionHost& host, SdlInput& input);
    ~LocalGame() override;

    void Attach(recording::RecordedGame& game, runner::ScriptPlayer* script,
                std::optional<long> ticks);
    // Every game recorded is kept in folder as it ends; with recordFile, the whole run is also
    // written there at the close.
    void KeepReplays(std::filesystem::path folder, std::string recordFile);
    // The game has started: recording begins.
    void Started();
    // A menu command of the game (a TMenuItem's name).
    void MenuItem(const std::string& item);
    // Back to the title, whatever the game was doing (a network game has had the picture).
    void BackToTitle();
    // A game is being played: a stage, its intro or its tally (not the demo).
    bool InGame() const;
    // The window closes: the games played so far are kept, then the game's own close runs.
    void Close();
    long TicksRun() const { return ticksRun_; }

    void Tick() override;
    bool KeysToDevices() const override { return true; }
    void KeyDown(int code, bool alt) override;
    std::string Title() const override { return " Kordavel"; }
    std::vector<std::string> Overlay() const override { return {}; }
    bool Ended() const override { return false; }  // it ends with the window

  private:
    void Save(const replay::Replay& game);

    SessionHost& host_;
    recording::RecordedGame* recorded_ = nullptr;
    kdv::Game* game_ = nullptr;
    runner::ScriptPlayer* script_ = nullptr;
    std::optional<long> tickLimit_;
    class ScriptKeys;
    std::unique_ptr<ScriptKeys> scriptKeys_;
    std::filesystem::path replayFolder_;
    std::string recordFile_;
    long ticksRun_ = 0;
};

}  // namespace app
