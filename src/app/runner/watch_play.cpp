#include "app/runner/watch_play.h"

#include <csignal>
#include <cstdio>
#include <iostream>

#include "adapters/disk_files.h"
#include "app/runner/net_play.h"
#include "app/runner/script.h"
#include "app/runner/state_json.h"
#include "core/flow/main_form.h"
#include "net/handshake.h"
#include "net/invite.h"
#include "replay/playback.h"

namespace runner {
namespace {

// Ctrl+C or a plain kill stops watching as leaving does: the host hears goodbye.
volatile std::sig_atomic_t stopAsked = 0;
void AskToStop(int) {
    stopAsked = 1;
}

}  // namespace

bool WatchOptionsFor(const CommandLine& options, kdv::FileSystem& disk, net::WatchOptions& out,
                     std::string& error) {
    if (!ReachFrom(options.watch, options.code, false, out.address, out.inviteCode, error))
        return false;
    out.identity = net::IdentityOf(disk, replay::BuildIdentity());
    out.disk = &disk;
    return true;
}

int RunWatchHeadless(const CommandLine& options, const app::GamePaths& paths) {
    Script script;
    if (!options.script.empty()) {
        try {
            script = LoadScript(options.script);
        } catch (const ScriptError& error) {
            std::cerr << "kordavel: " << options.script << ": " << error.what() << "\n";
            return kExitUsage;
        }
    }
    for (const Command& c : script.commands)
        if (c.verb != Command::Dump && c.verb != Command::Screen) {
            std::cerr << "kordavel: " << options.script << ": line " << c.line
                      << ": watching a game takes only dump and screen lines\n";
            return kExitUsage;
        }
    ScriptPlayer outputs(script);
    const auto diskFiles = app::GameFiles(paths);
    net::WatchOptions watchOptions;
    std::string error;
    if (!WatchOptionsFor(options, *diskFiles, watchOptions, error)) {
        std::cerr << "kordavel: " << error << "\n";
        return kExitUsage;
    }
    // Flat out unless asked for the window's pace, which plays a second behind.
    watchOptions.paced = options.realtime;
    watchOptions.delayMs = options.realtime ? net::kWatchDelayMs : 0;
    watchOptions.stopAfter = options.ticks.value_or(0);
    std::string outputError;
    watchOptions.afterTick = [&](int64_t tick, const kdv::Game& game) {
        if (!outputError.empty()) return;
        try {
            outputs.ApplyOutputs(long(tick), game, long(tick));
        } catch (const std::exception& e) {
            outputError = e.what();
        }
    };
    if (!options.record.empty()) replay::RemoveLeftover(options.record);
    net::WatchSession watch(std::move(watchOptions));
    if (!watch.Open(error)) {
        std::cerr << "kordavel: " << error << "\n";
        return kExitNetwork;
    }
    stopAsked = 0;
    std::signal(SIGINT, AskToStop);
    std::signal(SIGTERM, AskToStop);
    int exitCode = kExitOk;
    bool toldWatching = false;
    int toldCount = -1;
    while (watch.CurrentPhase() != net::WatchSession::Phase::Ended) {
        watch.Poll(options.realtime ? kdv::kTimerInterval : 1);
        if (watch.CurrentPhase() == net::WatchSession::Phase::Watching && watch.Watching() > 0 &&
            (!toldWatching || watch.Watching() != toldCount)) {
            std::cerr << "kordavel: Watching " << watch.HostName() << " — " << watch.Watching()
                      << " watching (from tick " << watch.From() << ")\n";
            toldWatching = true;
            toldCount = watch.Watching();
        }
        if (!outputError.empty() && exitCode == kExitOk) {
            std::cerr << "kordavel: " << outputError << "\n";
            exitCode = kExitStartup;
            watch.Leave();
        }
        if (stopAsked) watch.Leave();
    }
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    for (int i = 0; i < 20; ++i) watch.Poll(5);  // the goodbye goes out
    std::cerr << "kordavel: " << watch.Address() << ": " << watch.Message() << "\n";
    if (watch.Failed() && exitCode == kExitOk) exitCode = kExitNetwork;
    if (!options.record.empty()) {
        if (auto recording = watch.Recording()) {
            if (!replay::SaveReplay(options.record, *recording, error)) {
                std::cerr << "kordavel: " << error << "\n";
                if (exitCode == kExitOk) exitCode = kExitStartup;
            }
        }
    }
    std::printf("watch: from=%lld ticks=%lld watching=%d dry=%ld retries=%ld\n",
                static_cast<long long>(watch.From()), static_cast<long long>(watch.Played()),
                watch.Watching(), watch.dry, watch.retries);
    if (watch.Game())
        std::printf(
            "ticks=%lld hash=%016llx\n", static_cast<long long>(watch.Played()),
            static_cast<unsigned long long>(StateHash(*watch.Game(), long(watch.Played()))));
    return exitCode;
}

}  // namespace runner
