#include "app/runner/net_play.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <map>
#include <thread>

#include "adapters/disk_files.h"
#include "adapters/virtual_devices.h"
#include "app/runner/hosting.h"
#include "app/runner/script.h"
#include "app/runner/state_json.h"
#include "core/controls/settings.h"
#include "core/flow/main_form.h"
#include "net/invite.h"
#include "net/preferences.h"
#include "replay/library.h"
#include "replay/playback.h"

#ifndef KORDAVEL_VERSION
#define KORDAVEL_VERSION "0"
#endif

namespace runner {

bool ReachFrom(std::string where, std::string code, bool hosting, net::Address& address,
               std::string& codeOut, std::string& error) {
    if (!hosting && where.find_first_of(" \t") != std::string::npos) {
        // "HOST:PORT CODE", or the line the host showed.
        auto invite = net::ParseInvite(where, error);
        if (!invite) return false;
        where = invite->address;
        if (code.empty()) code = invite->code;
    }
    if (!code.empty()) {
        auto normal = net::NormalizeCode(code);
        if (!normal) {
            error = "\"" + code + "\" is not an invite code (" + std::to_string(net::kCodeLength) +
                    " letters and digits)";
            return false;
        }
        code = *normal;
    }
    auto parsed = net::ParseAddress(where, hosting, error);
    if (!parsed) return false;
    address = *parsed;
    codeOut = code;
    return true;
}

bool NetOptions(const CommandLine& options, kdv::FileSystem& disk, net::Options& out,
                std::string& error) {
    out.hosting = !options.host.empty();
    std::string code;
    if (!ReachFrom(out.hosting ? options.host : options.join, options.code, out.hosting,
                   out.address, code, error))
        return false;
    out.mode = uint8_t(options.netMode);
    out.stage = int32_t(options.stage);
    out.ticks = out.hosting ? options.ticks.value_or(0) : 0;
    kdv::Settings settings;
    if (auto text = disk.Read(kdv::kSettingsFile, 0, 1 << 20))
        kdv::ParseSettings(std::string(text->begin(), text->end()), settings);
    settings.moreTanks = settings.gameDifficulty >= 1;
    out.settings = settings;
    out.identity = net::IdentityOf(disk, replay::BuildIdentity());
    out.disk = &disk;
    out.inviteCode = out.hosting ? "" : code;
    out.hash = [](const kdv::Game& game, long tick) { return StateHash(game, tick); };
    out.name = net::ShownName(net::ReadPreferences(disk));
    return true;
}

namespace {

// Ctrl+C or a plain kill ends the game as leaving it does, so that the router hears the port
// closed and the other machine hears goodbye.
volatile std::sig_atomic_t stopAsked = 0;
constexpr auto kCountEvery = std::chrono::seconds(5);
void AskToStop(int) {
    stopAsked = 1;
}

void SaveRecording(const net::Session& session, const CommandLine& options,
                   const app::GamePaths& paths, bool failed, int& exitCode) {
    auto recording = session.Recording();
    if (!recording) return;
    std::string error;
    if (!options.record.empty()) {
        if (!replay::SaveReplay(options.record, *recording, error)) {
            std::cerr << "kordavel: " << error << "\n";
            if (exitCode == kExitOk) exitCode = kExitStartup;
        }
    } else if (failed) {
        // Kept for the report where the window keeps its games.
        const auto& folder = paths.replayDir;
        const auto path =
            replay::SaveGame(folder, *recording, std::chrono::system_clock::now(), error);
        if (path.empty())
            std::cerr << "kordavel: the replay was not saved: " << error << "\n";
        else
            std::cerr << "kordavel: the replay was saved as " << path.string() << "\n";
    }
}

}  // namespace

int RunNetHeadless(const CommandLine& options, const app::GamePaths& paths) {
    Script script;
    if (!options.script.empty()) {
        try {
            script = LoadScript(options.script);
        } catch (const ScriptError& error) {
            std::cerr << "kordavel: " << options.script << ": " << error.what() << "\n";
            return kExitUsage;
        }
    }
    if (!options.host.empty() && !options.ticks) {
        std::cerr << "kordavel: a headless host needs --ticks N, the length of the game\n";
        return kExitUsage;
    }
    // The script's keys and joystick states, by the tick whose input they make. The menu and
    // the dialogs are not part of a network game: both machines must play the same one.
    std::multimap<long, const Command*> inputs;
    for (const Command& c : script.commands) {
        if (c.verb == Command::Key || c.verb == Command::Joy) {
            inputs.emplace(c.tick, &c);
        } else if (c.verb != Command::Dump && c.verb != Command::Screen) {
            std::cerr << "kordavel: " << options.script << ": line " << c.line
                      << ": a network game takes only key, joy, dump and screen lines\n";
            return kExitUsage;
        }
    }
    ScriptPlayer outputs(script);

    const auto diskFiles = app::GameFiles(paths);
    adapters::DiskFiles& files = *diskFiles;
    adapters::VirtualInput input;
    net::Options netOptions;
    std::string error;
    if (!NetOptions(options, files, netOptions, error)) {
        std::cerr << "kordavel: " << error << "\n";
        return kExitUsage;
    }
    netOptions.input = &input;
    netOptions.paced = options.realtime;
    // Beside the replays: a joiner started again with the same address finds its seat there.
    if (!netOptions.hosting) netOptions.seatFolder = paths.replayDir;
    netOptions.waitForPeerMs = 60000;
    netOptions.beforeInput = [&](int64_t tick) {
        auto [from, to] = inputs.equal_range(long(tick));
        for (auto it = from; it != to; ++it) {
            const Command& c = *it->second;
            if (c.verb == Command::Key)
                input.SetKey(c.code, c.on);
            else
                input.SetJoyState(c.code, c.on);
        }
    };
    // Dump and screen lines are taken after their own tick, however many ticks a poll runs.
    std::string outputError;
    netOptions.afterTick = [&](int64_t tick, const kdv::Game& game) {
        if (!outputError.empty()) return;
        try {
            outputs.ApplyOutputs(long(tick), game, long(tick));
        } catch (const std::exception& e) {
            outputError = e.what();
        }
    };
    const bool hosting = netOptions.hosting;
    const std::string listenHost = netOptions.address.host;
    const uint16_t port = netOptions.address.port;
    discovery::Listing listing;
    listing.mode = netOptions.mode;
    listing.stage = netOptions.stage;
    listing.identity = netOptions.identity;
    if (hosting) netOptions.inviteCode = net::NewInviteCode();
    const std::string code = netOptions.inviteCode;
    net::Session session(std::move(netOptions));
    if (!session.Open(error)) {
        std::cerr << "kordavel: " << error << "\n";
        return kExitNetwork;
    }
    std::unique_ptr<Hosting> extras;
    if (hosting) {
        const net::Preferences preferences = net::ReadPreferences(files);
        listing.name = net::ShownName(preferences);
        extras = std::make_unique<Hosting>(listenHost, port,
                                           HostingChoice{options.openRouter, preferences.discovery},
                                           listing, code);
        if (!extras->DiscoveryError().empty())
            std::cerr << "kordavel: " << extras->DiscoveryError() << "\n";
        std::printf("code=%s\n", code.c_str());
        std::fflush(stdout);
    }
    std::string extrasLine;
    net::Stats counted;
    auto countedAt = std::chrono::steady_clock::now();

    stopAsked = 0;
    std::signal(SIGINT, AskToStop);
    std::signal(SIGTERM, AskToStop);
    int exitCode = kExitOk;
    std::string shown, notice;
    // A joiner's --ticks: its player leaves after that many ticks.
    const int64_t leaveAfter = options.host.empty() ? options.ticks.value_or(0) : 0;
    while (session.CurrentPhase() != net::Phase::Ended) {
        session.Poll(options.realtime ? kdv::kTimerInterval : 1);
        const std::string status = session.Status();
        if (status != shown && session.CurrentPhase() != net::Phase::Ended) {
            if (!status.empty()) std::cerr << "kordavel: " << status << "\n";
            shown = status;
        }
        if (hosting && session.CurrentPhase() == net::Phase::Connecting) {
            // Machines turned away are counted in one line every few seconds: strangers
            // knocking fast would otherwise fill the terminal with a line each.
            const auto now = std::chrono::steady_clock::now();
            const net::Stats s = session.GetStats();
            if (s.turnedAway != counted.turnedAway && now - countedAt >= kCountEvery) {
                std::cerr
                    << "kordavel: turned away " << s.turnedAway - counted.turnedAway
                    << " connections in "
                    << std::chrono::duration_cast<std::chrono::seconds>(now - countedAt).count()
                    << " s (" << s.wrongCodes - counted.wrongCodes
                    << " with a wrong invite code); the last: " << session.Notice() << "\n";
                counted = s;
                countedAt = now;
            }
        }
        if (session.CurrentPhase() == net::Phase::Playing && session.Notice() != notice) {
            notice = session.Notice();
            if (!notice.empty()) std::cerr << "kordavel: " << notice << "\n";
        }
        if (extras) {
            extras->SeatTaken(session.CurrentPhase() != net::Phase::Connecting);
            if (const std::string line = extras->Line(); line != extrasLine) {
                if (!line.empty()) std::cerr << "kordavel: " << line << "\n";
                extrasLine = line;
            }
        }
        if (!outputError.empty() && exitCode == kExitOk) {
            std::cerr << "kordavel: " << outputError << "\n";
            exitCode = kExitStartup;
            session.Leave();
        }
        if (leaveAfter && session.TicksRun() >= leaveAfter && !session.Leaving()) session.Leave();
        if (stopAsked) session.Quit();
    }
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    // Lets the goodbye reach the other machine: a lost one is sent again after a round trip or
    // more, so this waits until the other side has it, for up to 3 s. A partner given up for
    // its silence would not hear it: the program ends at once. Spectators take the game's last
    // inputs meanwhile, for a few seconds at most.
    const bool partnerHears = session.Reason() != net::EndReason::Lost;
    for (int i = 0; (partnerHears && (i < 20 || (session.SayingGoodbye() && i < 300))) ||
                    session.SpectatorsFinishing();
         ++i)
        session.Poll(10);

    // The port is closed with the game; the program waits for the router as it exits.
    std::optional<std::pair<long, long>> answers;
    if (extras) {
        answers = extras->Answers();
        extras->Close();
    }
    const bool failed = session.Failed();
    std::cerr << "kordavel: " << session.Ending() << "\n";
    if (failed && exitCode == kExitOk) exitCode = kExitNetwork;
    SaveRecording(session, options, paths, failed, exitCode);
    const net::Stats s = session.GetStats();
    std::printf(
        "net: ticks=%lld seconds=%.3f ticks_per_second=%.1f delay=%d window=%d round_trip_ms=%u "
        "stalls=%ld stalled_seconds=%.3f rollbacks=%ld rollbacks_per_second=%.1f "
        "ticks_run_again=%ld cpu_us_per_tick=%.1f game_us_per_tick=%.1f hash_checks=%ld "
        "strangers=%ld turned_away=%ld wrong_codes=%ld unheard=%ld "
        "retries=%ld rejoins=%ld seats_refused=%ld first_tick=%lld\n",
        static_cast<long long>(s.ticks), s.playSeconds,
        s.playSeconds > 0 ? double(s.ticks - s.firstTick) / s.playSeconds : 0.0, s.delay, s.window,
        s.roundTripMs, s.stalls, s.stalledSeconds, s.rollbacks,
        s.playSeconds > 0 ? double(s.rollbacks) / s.playSeconds : 0.0, s.ticksRunAgain,
        s.ticks > 0 ? s.cpuSeconds * 1e6 / double(s.ticks) : 0.0,
        s.ticks > 0 ? s.tickSeconds * 1e6 / double(s.ticks) : 0.0, s.hashChecks, s.strangers,
        s.turnedAway, s.wrongCodes, s.unheard, s.retries, s.rejoins, s.seatsRefused,
        static_cast<long long>(s.firstTick));
    if (answers)
        std::printf("discovery: answered=%ld ignored=%ld\n", answers->first, answers->second);
    if (hosting)
        std::printf("spectators: admitted=%ld most=%ld full=%ld dropped=%ld\n", s.spectators,
                    s.mostWatching, s.spectatorsFull, s.spectatorsDropped);
    if (session.Game())
        std::printf("ticks=%lld hash=%016llx\n", static_cast<long long>(s.ticks),
                    static_cast<unsigned long long>(StateHash(*session.Game(), long(s.ticks))));
    return exitCode;
}

}  // namespace runner
