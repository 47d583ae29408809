#include "app/qt/network_game.h"

#include <chrono>
#include <iostream>

#include "app/qt/captions.h"
#include "app/runner/command_line.h"
#include "app/runner/net_play.h"
#include "app/sdl/sdl_input.h"
#include "core/game.h"
#include "net/session.h"
#include "replay/library.h"
#include "replay/recorder.h"

namespace app {

NetworkGame::NetworkGame(kdv::Game& player, std::unique_ptr<net::Session> session,
                         std::filesystem::path replayFolder)
    : player_(player), session_(std::move(session)), replayFolder_(std::move(replayFolder)) {}

NetworkGame::~NetworkGame() = default;

std::unique_ptr<NetworkGame> NetworkGame::Open(const runner::CommandLine& options,
                                               kdv::Game& player, SdlInput& input,
                                               kdv::Display& display,
                                               std::filesystem::path replayFolder,
                                               std::string& error) {
    net::Options o;
    if (!runner::NetOptions(options, *player.io.files, o, error)) return nullptr;
    // The player's settings as they are now, not as they were saved.
    o.settings = player.Settings;
    o.identity = net::IdentityOf(*player.io.files, replay::BuildIdentity());
    o.ticks = 0;
    o.input = &input;
    o.display = &display;
    o.sound = player.Settings.soundEnable ? player.io.sound : nullptr;
    o.paced = true;
    auto session = std::make_unique<net::Session>(std::move(o));
    if (!session->Open(error)) return nullptr;
    std::unique_ptr<NetworkGame> game(
        new NetworkGame(player, std::move(session), std::move(replayFolder)));
    game->Tick();
    return game;
}

void NetworkGame::Tick() {
    if (!left_) session_->Poll(0);
}

void NetworkGame::KeyDown(int code, bool) {
    if (code == 27) Leave();
}

bool NetworkGame::Ended() const {
    return left_ || session_->CurrentPhase() == net::Phase::Ended;
}

void NetworkGame::Leave() {
    if (left_) return;
    left_ = true;
    session_->Leave();
}

std::string NetworkGame::Caption(const char* name, const char* english) const {
    return CaptionFor(name, player_.Settings.language).value_or(english);
}

std::string NetworkGame::Waiting() const {
    switch (session_->CurrentPhase()) {
        case net::Phase::Connecting:
        case net::Phase::Handshake:
            if (session_->Hosting())
                return Caption("NetWaitJoin", "Waiting for a player to join on port") + " " +
                       std::to_string(session_->Port()) + "…";
            return Caption("NetConnecting", "Connecting…");
        case net::Phase::Playing:
        case net::Phase::Finishing:
            if (const uint32_t quiet = session_->QuietMs())
                return Caption("NetWaitPeer", "Waiting for the other player") + " (" +
                       std::to_string(quiet / 1000) + " / " +
                       std::to_string(net::kGiveUpMs / 1000) + " s)";
            return {};
        case net::Phase::Ended:
            return {};
    }
    return {};
}

std::string NetworkGame::Title() const {
    const std::string waiting = Waiting();
    return waiting.empty() ? " Kordavel" : " Kordavel - " + waiting;
}

std::vector<std::string> NetworkGame::Overlay() const {
    std::string waiting = Waiting();
    if (waiting.empty()) return {};
    return {std::move(waiting)};
}

// Lets the goodbye reach the other machine, keeps the game's replay beside the others and says
// how it ended.
std::string NetworkGame::Finish() {
    for (int i = 0; i < 10; ++i) session_->Poll(5);
    std::string error;
    if (auto recording = session_->Recording()) {
        if (replay::SaveGame(replayFolder_, *recording, std::chrono::system_clock::now(), error)
                .empty())
            std::cerr << "kordavel: the replay was not saved: " << error << "\n";
    }
    if (session_->Failed()) std::cerr << "kordavel: " << session_->EndMessage() << "\n";
    switch (session_->Reason()) {
        case net::EndReason::None:
        case net::EndReason::Left:
            return {};
        case net::EndReason::Over:
            return Caption("NetOver", "The network game is over.");
        case net::EndReason::PeerLeft:
            return Caption("NetPeerLeft", "The other player left the game.");
        case net::EndReason::Lost:
            return Caption("NetLost", "The connection to the other player was lost.");
        case net::EndReason::Refused:
            return Caption("NetRefused", "A player was refused:") + " " + session_->Detail() + ".";
        case net::EndReason::RefusedByHost:
            return Caption("NetRefusedByHost", "The host refused the game:") + " " +
                   session_->Detail() + ".";
        case net::EndReason::Error:
            return Caption("NetError", "The network game stopped:") + " " + session_->EndMessage();
        case net::EndReason::Apart:
            return Caption("NetApart", "The two games went apart.");
        case net::EndReason::NobodyJoined:
            return Caption("NetNobodyJoined", "Nobody joined the game.");
        case net::EndReason::NoAnswer:
            return Caption("NetNoAnswer", "The other machine does not answer.");
    }
    return {};
}

}  // namespace app
