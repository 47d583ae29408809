#include "app/runner/find.h"

#include <chrono>
#include <cstdio>
#include <iostream>

#include "discovery/discovery.h"
#include "net/session.h"
#include "replay/format.h"

namespace runner {

int RunFind(const CommandLine&, const app::GamePaths& paths) {
    std::string error;
    auto finder = discovery::Finder::Open(error);
    if (!finder) {
        std::cerr << "kordavel: " << error << "\n";
        return kExitNetwork;
    }
    const auto files = app::GameFiles(paths);
    const net::Identity mine = net::IdentityOf(*files, replay::BuildIdentity());
    // Asked twice, so that one lost question loses no game.
    const auto start = std::chrono::steady_clock::now();
    finder->Ask();
    bool askedAgain = false;
    while (true) {
        const auto spent = std::chrono::steady_clock::now() - start;
        if (spent >= std::chrono::seconds(1)) break;
        if (!askedAgain && spent >= std::chrono::milliseconds(300)) {
            finder->Ask();
            askedAgain = true;
        }
        finder->Poll(50);
    }
    for (const discovery::Found& game : finder->Games())
        std::printf("%s\n", discovery::Line(game, mine).c_str());
    return kExitOk;
}

}  // namespace runner
