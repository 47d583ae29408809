#pragma once
// A network game watched in the window: the host's game, a second behind its players, drawn
// and heard as a replay is, with "Watching HOST — N watching" over the picture. Esc stops
// watching (the players go on). At its end what was watched is kept beside the player's
// replays, from the state it came in at, and the player's own game goes back to the title.
#include <filesystem>
#include <memory>
#include <string>

#include "app/qt/play_session.h"

namespace kdv {
struct Game;
class Display;
}  // namespace kdv
namespace net {
class WatchSession;
}
namespace runner {
struct CommandLine;
}

namespace app {

class WatchRoom : public PlaySession {
  public:
    // Watches the game at options.watch (with its code); null with error set when the address
    // or the code is bad.
    static std::unique_ptr<WatchRoom> Open(const runner::CommandLine& options, kdv::Game& player,
                                           kdv::Display& display, SessionHost& host,
                                           std::filesystem::path replayFolder, std::string& error);
    ~WatchRoom() override;

    void Tick() override;
    bool KeysToDevices() const override { return false; }  // the watched game hears nothing
    void KeyDown(int code, bool alt) override;
    std::string Title() const override;
    std::vector<std::string> Overlay() const override;
    bool Ended() const override;
    void Leave() override;
    std::string Finish() override;

  private:
    WatchRoom(kdv::Game& player, std::unique_ptr<net::WatchSession> session, SessionHost& host,
              std::filesystem::path replayFolder);
    std::string Caption(const char* name, const char* english) const;
    // What the room shows now: connecting, waiting for the game, or whom it watches.
    std::string Line() const;

    kdv::Game& player_;
    std::unique_ptr<net::WatchSession> session_;
    SessionHost& host_;
    std::filesystem::path replayFolder_;
};

}  // namespace app
