#pragma once
// The player's own game in the page: recorded from its start like the desktop window's, every
// game kept as it ends (handed to page.js for the browser's storage), the whole session on
// request. The page may be left at any moment, so the game in progress is kept then too, and
// the copy replaced each time it is kept again, by its end included: each game is kept once.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "recording/recorded_game.h"
#include "web/play_session.h"
#include "web/web_devices.h"

namespace kdv {
struct Game;
}

namespace web {

class LocalGame : public PlaySession {
  public:
    LocalGame(PageWindow& window, PageClock& clock);
    ~LocalGame() override;

    // Makes the game on the page's devices and starts it; false when its data files were not
    // all there.
    bool Start(const kdv::Services& real);
    bool Started() const { return started_; }
    // Made, if perhaps not started.
    bool HasGame() const { return game_ != nullptr; }
    kdv::Game& Game() { return *game_; }

    void Tick() override;
    bool KeysToDevices() const override { return true; }
    void KeyDown(int code, bool alt) override;
    bool Ended() const override { return false; }  // it ends with the page

    // A menu item by its component name; false when there is none.
    bool Menu(const std::string& item);
    // Ok on the level selection: the reason it was refused, or nothing when the game started.
    std::optional<std::string> SelectOk(int stage, int gameItem);
    // Ok on the options dialog: its working copy becomes the settings, which are saved.
    void OptionsOk();
    // The settings kept in the browser, past the recording: a save is no event of the game, and
    // the page saves whenever it may be left. A failure is told.
    void SaveSettings();
    // The page is being hidden or left: the game in progress is kept, in place of the copy kept
    // before, if any.
    void KeepGameInProgress();
    // The whole session so far as a replay file.
    std::vector<uint8_t> SessionReplay() const;
    std::string HashLine() const;

  private:
    void Keep(const replay::Replay& game);

    PageWindow& window_;
    PageClock& clock_;
    kdv::FileSystem* files_ = nullptr;  // the page's own, not the recorder's
    // Who the copy of the game in progress was kept as, if it was: its next copy, or the game
    // once ended, takes its place. Unique across the page's loads.
    std::string keptRunning_;
    int64_t loadedAt_ = 0;
    int keptCount_ = 0;
    recording::RecordedGame recorded_{recording::Keep::GamesAndRun};
    std::unique_ptr<kdv::Game> game_;
    bool started_ = false;
    long ticks_ = 0;
};

}  // namespace web
