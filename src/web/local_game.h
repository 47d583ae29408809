#pragma once
// The player's own game in the page: recorded from its start like the desktop window's, every
// game kept as it ends (handed to page.js for the browser's storage), the whole session on
// request.
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
    // The page is being left: the settings are saved and the game in progress kept.
    void SaveSettings();
    // The whole session so far as a replay file.
    std::vector<uint8_t> SessionReplay() const;
    std::string HashLine() const;

  private:
    PageWindow& window_;
    PageClock& clock_;
    recording::RecordedGame recorded_{recording::Keep::GamesAndRun};
    std::unique_ptr<kdv::Game> game_;
    bool started_ = false;
    long ticks_ = 0;
};

}  // namespace web
