#include "app/qt/watch_room.h"

#include <chrono>
#include <iostream>

#include "app/runner/command_line.h"
#include "app/runner/watch_play.h"
#include "core/game.h"
#include "net/watch.h"
#include "replay/library.h"
#include "ui/captions.h"

namespace app {

WatchRoom::WatchRoom(kdv::Game& player, std::unique_ptr<net::WatchSession> session,
                     SessionHost& host, std::filesystem::path replayFolder)
    : player_(player),
      session_(std::move(session)),
      host_(host),
      replayFolder_(std::move(replayFolder)) {}

WatchRoom::~WatchRoom() = default;

std::unique_ptr<WatchRoom> WatchRoom::Open(const runner::CommandLine& options, kdv::Game& player,
                                           kdv::Display& display, SessionHost& host,
                                           std::filesystem::path replayFolder, std::string& error) {
    net::WatchOptions o;
    if (!runner::WatchOptionsFor(options, *player.io.files, o, error)) return nullptr;
    o.display = &display;
    o.sound = player.Settings.soundEnable ? player.io.sound : nullptr;
    o.paced = true;
    auto session = std::make_unique<net::WatchSession>(std::move(o));
    if (!session->Open(error)) return nullptr;
    std::unique_ptr<WatchRoom> room(
        new WatchRoom(player, std::move(session), host, std::move(replayFolder)));
    room->Tick();
    return room;
}

// Polled by the frame timer: the session keeps its own beat a second behind the players.
void WatchRoom::Tick() {
    session_->Poll(0);
}

void WatchRoom::KeyDown(int code, bool) {
    if (code == 27) Leave();
}

bool WatchRoom::Ended() const {
    return session_->CurrentPhase() == net::WatchSession::Phase::Ended;
}

void WatchRoom::Leave() {
    if (!Ended()) session_->Leave();
}

std::string WatchRoom::Caption(const char* name, const char* english) const {
    return ui::CaptionFor(name, player_.Settings.language).value_or(english);
}

std::string WatchRoom::Line() const {
    switch (session_->CurrentPhase()) {
        case net::WatchSession::Phase::Connecting:
            return Caption("NetConnecting", "Connecting…");
        case net::WatchSession::Phase::Waiting:
            return Caption("NetWatchWait", "Waiting for the game to start…");
        case net::WatchSession::Phase::Watching: {
            std::string count = Caption("NetWatchers", "{n} watching");
            if (const size_t at = count.find("{n}"); at != std::string::npos)
                count.replace(at, 3, std::to_string(session_->Watching()));
            return Caption("NetWatchingHost", "Watching") + " " + session_->HostName() +
                   (session_->Watching() > 0 ? " — " + count : "");
        }
        case net::WatchSession::Phase::Ended:
            return {};
    }
    return {};
}

std::string WatchRoom::Title() const {
    const std::string line = Line();
    return line.empty() ? " Kordavel" : " Kordavel - " + line;
}

std::vector<std::string> WatchRoom::Overlay() const {
    std::vector<std::string> lines;
    if (std::string line = Line(); !line.empty()) lines.push_back(std::move(line));
    return lines;
}

// Keeps what was watched beside the player's replays and says how the watching ended.
std::string WatchRoom::Finish() {
    Leave();
    for (int i = 0; i < 10; ++i) session_->Poll(5);  // the goodbye goes out
    std::string error;
    auto recording = replayFolder_.empty() ? std::nullopt : session_->Recording();
    if (recording && recording->header.ticks > 0 &&
        replay::SaveGame(replayFolder_, *recording, std::chrono::system_clock::now(), error)
            .empty())
        std::cerr << "kordavel: the replay was not saved: " << error << "\n";
    if (session_->Failed()) std::cerr << "kordavel: " << session_->Message() << "\n";
    host_.BackToTitle();
    if (session_->Ending() == net::WatchSession::End::Left) return {};
    return session_->Address() + ": " +
           ui::MessageText(session_->Message(), player_.Settings.language);
}

}  // namespace app
