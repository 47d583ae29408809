#pragma once
// A network game in the window, hosted or joined: the keys reach it through the input devices,
// Esc asks whether to leave it (leaving ends it for both players). It says over the picture
// what it waits for; at its end its replay is kept beside the player's own, the window is told
// how it ended and the player's own game goes back to the title.
#include <filesystem>
#include <memory>
#include <string>

#include "app/qt/play_session.h"

namespace kdv {
struct Game;
class Display;
}  // namespace kdv
namespace net {
class Session;
}
namespace runner {
struct CommandLine;
class Hosting;
}  // namespace runner

namespace app {

class SdlInput;

class NetworkGame : public PlaySession {
  public:
    // Hosts or joins as the options say (--host/--join, --mode, --stage), with the player's
    // settings as they are now; null with error set when that is impossible.
    static std::unique_ptr<NetworkGame> Open(const runner::CommandLine& options, kdv::Game& player,
                                             SdlInput& input, kdv::Display& display,
                                             SessionHost& host, std::filesystem::path replayFolder,
                                             std::string& error);
    ~NetworkGame() override;

    void Tick() override;
    bool KeysToDevices() const override { return true; }
    void KeyDown(int code, bool alt) override;
    std::string Title() const override;
    std::vector<std::string> Overlay() const override;
    bool Ended() const override;
    void Leave() override;
    std::string LeaveQuestion() const override;
    bool HoldsSettings() const override { return true; }
    // The host's Pause key, as if pressed; the joiner is told that the host pauses.
    bool Pause() override;
    std::string Finish() override;

  private:
    NetworkGame(kdv::Game& player, SdlInput& input, std::unique_ptr<net::Session> session,
                SessionHost& host, std::filesystem::path replayFolder,
                std::unique_ptr<runner::Hosting> hosting);
    // How the game ended, in the player's language (empty: nothing to say).
    std::string Ending() const;
    // What the game waits for now, or nothing.
    std::string Waiting() const;
    std::string Caption(const char* name, const char* english) const;

    kdv::Game& player_;
    SdlInput& input_;
    std::unique_ptr<net::Session> session_;
    // A host's invite code, router and answers to players nearby; closed with the game.
    std::unique_ptr<runner::Hosting> hosting_;
    SessionHost& host_;
    std::filesystem::path replayFolder_;
    bool asking_ = false;  // the leave question is open
    bool left_ = false;
    int onlyHostPauses_ = 0;  // ticks left to say that only the host pauses
};

}  // namespace app
