#include "app/qt/network_game.h"

#include <chrono>
#include <iostream>

#include "app/qt/frame_stats.h"
#include "app/runner/command_line.h"
#include "app/runner/hosting.h"
#include "app/runner/net_play.h"
#include "app/sdl/sdl_input.h"
#include "core/flow/game_state.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "net/invite.h"
#include "net/preferences.h"
#include "net/session.h"
#include "replay/library.h"
#include "replay/recorder.h"
#include "ui/captions.h"

namespace app {

namespace {

// How long a word about the pause stays over the picture.
constexpr int kNoticeTicks = 3000 / kdv::kTimerInterval;

}  // namespace

NetworkGame::NetworkGame(kdv::Game& player, SdlInput& input, std::unique_ptr<net::Session> session,
                         SessionHost& host, std::filesystem::path replayFolder,
                         std::unique_ptr<runner::Hosting> hosting)
    : player_(player),
      input_(input),
      session_(std::move(session)),
      hosting_(std::move(hosting)),
      host_(host),
      replayFolder_(std::move(replayFolder)) {}

NetworkGame::~NetworkGame() = default;

std::unique_ptr<NetworkGame> NetworkGame::Open(const runner::CommandLine& options,
                                               kdv::Game& player, SdlInput& input,
                                               kdv::Display& display, SessionHost& host,
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
    o.keepTickIntervals = options.frameStats;
    o.polledEachTick = true;  // by the frame timer
    // Beside the replays: the window started again finds its seat there (Network Game → Rejoin).
    if (!o.hosting) o.seatFolder = replayFolder;
    const net::Preferences preferences = net::ReadPreferences(*player.io.files);
    o.name = net::ShownName(preferences);
    discovery::Listing listing;
    listing.name = net::ShownName(preferences);
    listing.mode = o.mode;
    listing.stage = o.stage;
    listing.identity = o.identity;
    const std::string listenHost = o.address.host;
    const uint16_t port = o.address.port;
    if (o.hosting) o.inviteCode = net::NewInviteCode();
    const std::string code = o.inviteCode;
    const bool hosting = o.hosting;
    auto session = std::make_unique<net::Session>(std::move(o));
    if (!session->Open(error)) return nullptr;
    std::unique_ptr<runner::Hosting> extras;
    if (hosting) {
        extras = std::make_unique<runner::Hosting>(
            listenHost, port, runner::HostingChoice{preferences.openRouter, preferences.discovery},
            listing, code);
        if (!extras->DiscoveryError().empty())
            std::cerr << "kordavel: " << extras->DiscoveryError() << "\n";
    }
    std::unique_ptr<NetworkGame> game(new NetworkGame(player, input, std::move(session), host,
                                                      std::move(replayFolder), std::move(extras)));
    game->Tick();
    return game;
}

// The game goes on while the leave question is open: the other machine must not wait for it.
void NetworkGame::Tick() {
    if (session_->CurrentPhase() != net::Phase::Ended || session_->SpectatorsFinishing())
        session_->Poll(0);
    if (hosting_) {
        hosting_->SeatTaken(session_->CurrentPhase() != net::Phase::Connecting);
        if (session_->CurrentPhase() == net::Phase::Ended) hosting_->Close();
    }
    if (onlyHostPauses_ > 0) --onlyHostPauses_;
}

std::string NetworkGame::LeaveQuestion() const {
    if (session_->CurrentPhase() != net::Phase::Playing) return {};
    // While the other player may still come back, leaving is giving up the wait.
    if (session_->Holding())
        return Caption("NetGiveUpAsk", "Stop waiting? The game ends for both players.");
    return Caption("NetLeaveAsk", "Leave the network game? It ends for both players.");
}

bool NetworkGame::Pause() {
    if (!session_->Hosting()) {
        onlyHostPauses_ = kNoticeTicks;
        return true;
    }
    // A tap of the key: the game's next step sees it down once, on both machines.
    const int key = player_.Settings.keys1[size_t(kdv::Pause)];
    input_.Keys().Press(key);
    input_.Keys().Release(key);
    return true;
}

// Before the game starts Esc just stops waiting; during it, leaving ends the game for both, so
// the player is asked first. The joiner has no pause (player 2 never had one): its Pause key
// only hears that the host pauses.
void NetworkGame::KeyDown(int code, bool) {
    if (!session_->Hosting() && code != 0 && code == player_.Settings.keys1[size_t(kdv::Pause)] &&
        session_->CurrentPhase() == net::Phase::Playing)
        onlyHostPauses_ = kNoticeTicks;
    if (code != 27 || asking_ || left_) return;
    const net::Phase phase = session_->CurrentPhase();
    if (phase != net::Phase::Playing) {
        if (phase != net::Phase::Ended) Leave();
        return;
    }
    asking_ = true;
    host_.BetweenTicks([this, &host = host_] {
        const bool leave = host.Confirm(LeaveQuestion());
        // Closing the window while asked ends this session; nothing of it may be touched then.
        if (host.Closing()) return;
        asking_ = false;
        if (leave) Leave();
    });
}

// A host's spectators take the game's last inputs before the room closes (a few seconds at most).
bool NetworkGame::Ended() const {
    return !asking_ && session_->CurrentPhase() == net::Phase::Ended &&
           !session_->SpectatorsFinishing();
}

// The session ends the game on a tick both machines agree on; Tick() polls until it has.
void NetworkGame::Leave() {
    if (left_) return;
    left_ = true;
    if (session_->CurrentPhase() != net::Phase::Ended) session_->Leave();
}

std::string NetworkGame::Caption(const char* name, const char* english) const {
    return ui::CaptionFor(name, player_.Settings.language).value_or(english);
}

std::string NetworkGame::Waiting() const {
    switch (session_->CurrentPhase()) {
        case net::Phase::Connecting:
        case net::Phase::Handshake:
            if (session_->Hosting())
                return Caption("NetWaitJoin", "Waiting for a player to join on port") + " " +
                       std::to_string(session_->Port()) + "…";
            if (session_->Retrying()) return Caption("NetBusy", "The host is busy; trying again…");
            return Caption("NetConnecting", "Connecting…");
        case net::Phase::Finishing:
            if (session_->Leaving()) return Caption("NetLeaving", "Leaving the game…");
            [[fallthrough]];
        case net::Phase::Playing:
            if (session_->Holding())
                return (session_->PartnerName().empty()
                            ? Caption("NetWaitPeer", "Waiting for the other player")
                            : Caption("NetWaitFor", "Waiting for") + " " +
                                  session_->PartnerName()) +
                       " — " + std::to_string(session_->WaitLeftSeconds()) + " " +
                       Caption("NetSeconds", "s");
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
    std::vector<std::string> lines;
    if (std::string waiting = Waiting(); !waiting.empty()) lines.push_back(std::move(waiting));
    // Who may pause and start: the host, player 1; said over the picture, never in the frame
    // both machines compare.
    if (const kdv::Game* shown = session_->Shown();
        shown && session_->CurrentPhase() == net::Phase::Playing) {
        if (shown->Paused)
            lines.push_back(session_->Hosting()
                                ? Caption("NetYouPaused", "You paused the game for both players.")
                                : Caption("NetHostPaused", "The host paused the game."));
        else if (onlyHostPauses_ > 0)
            lines.push_back(Caption("NetOnlyHostPauses", "Only the host pauses the game."));
        if (!session_->Hosting() && shown->GameState == kdv::gsStageIntro)
            lines.push_back(Caption("NetHostStarts", "The host starts the stage."));
    }
    // A host that turned someone away says so and goes on waiting.
    const net::Phase phase = session_->CurrentPhase();
    if (session_->Hosting() && !session_->Notice().empty() &&
        (phase == net::Phase::Connecting || phase == net::Phase::Handshake))
        lines.push_back(ui::MessageText(session_->Notice(), player_.Settings.language));
    // Where friends join, with the code, or why the router was not opened.
    if (hosting_ && (phase == net::Phase::Connecting || phase == net::Phase::Handshake))
        if (const std::string line = hosting_->Line(); !line.empty())
            lines.push_back(ui::MessageText(line, player_.Settings.language));
    return lines;
}

// Ends the game together with the other machine when it can (2 s at most), keeps the game's
// replay beside the others, sends the player's own game back to the title and says how it ended.
std::string NetworkGame::Finish() {
    Leave();
    if (hosting_) hosting_->Close();
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (session_->CurrentPhase() != net::Phase::Ended &&
           std::chrono::steady_clock::now() < until)
        session_->Poll(5);
    if (session_->CurrentPhase() != net::Phase::Ended) session_->Quit();
    // Let the goodbye reach the other machine.
    for (int i = 0; i < 10; ++i) session_->Poll(5);
    std::string error;
    // A window given no replay folder keeps no replays (it would write where it was started).
    auto recording = replayFolder_.empty() ? std::nullopt : session_->Recording();
    if (recording) {
        if (replay::SaveGame(replayFolder_, *recording, std::chrono::system_clock::now(), error)
                .empty())
            std::cerr << "kordavel: the replay was not saved: " << error << "\n";
    }
    if (session_->Failed()) std::cerr << "kordavel: " << session_->EndMessage() << "\n";
    const net::Stats stats = session_->GetStats();
    if (!stats.tickIntervalsMs.empty())
        std::cout << "network "
                  << FormatFrameStats(
                         SummariseIntervals(stats.tickIntervalsMs, kdv::kTimerInterval))
                  << "network: rollbacks=" << stats.rollbacks
                  << " ticks_run_again=" << stats.ticksRunAgain << " stalls=" << stats.stalls
                  << " delay=" << stats.delay << " window=" << stats.window << "\n";
    host_.BackToTitle();
    const std::string text = Ending();
    if (text.empty()) return text;
    // A host that never had a partner names its port.
    std::string where = session_->Address();
    if (where.rfind("port ", 0) == 0) where = Caption("NetPortWord", "port") + where.substr(4);
    return where + ": " + text;
}

std::string NetworkGame::Ending() const {
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
                   ui::MessageText(session_->Detail(), player_.Settings.language) + ".";
        case net::EndReason::Error:
            return Caption("NetError", "The network game stopped:") + " " + session_->EndMessage();
        case net::EndReason::Apart:
            return Caption("NetApart", "The two games went apart.");
        case net::EndReason::NobodyJoined:
            return Caption("NetNobodyJoined", "Nobody joined the game.");
        case net::EndReason::NoAnswer:
            return Caption("NetNoAnswer", "The other machine does not answer.");
        case net::EndReason::Busy:
            return Caption("NetBusyEnd", "The host is busy with another player.");
        case net::EndReason::WrongCode:
            return Caption("NetWrongCode",
                           "The host refused the game: the invite code is missing or wrong.");
    }
    return {};
}

}  // namespace app
