// Long runs on the game's own data: the demonstration and scripted games in every mode, a
// million ticks in all. The sanitizer build runs them too. Memory must not grow once the first
// stage is over: the game allocates nothing that it keeps per frame.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "adapters/disk_files.h"
#include "adapters/virtual_devices.h"
#include "core/flow/game_flow.h"
#include "core/flow/main_form.h"
#include "core/game.h"

namespace {
std::atomic<long> liveBlocks{0};
}

void* operator new(std::size_t size) {
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    ++liveBlocks;
    return p;
}
void operator delete(void* p) noexcept {
    if (p) --liveBlocks;
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    if (p) --liveBlocks;
    std::free(p);
}

namespace {

struct Soak : adapters::VirtualPlatform {
    adapters::DiskFiles files{KORDAVEL_ROOT};
    std::unique_ptr<kdv::Game> game;
    long ticks = 0;
    int stagesEnded = 0;

    Soak() {
        input.SetForceFeedback(true);
        game = kdv::MakeGame(ServicesWith(files));
        kdv::FormCreate(*game);
        EXPECT_TRUE(kdv::FormActivate(*game));
        game->Settings.forceFeedback = true;  // jolts are played, and not kept
    }
    ~Soak() { kdv::FormClose(*game); }

    // Keys of a tireless, not very clever player: a new direction every few strides, fire in
    // bursts, Start now and then for the stage intros. Like the autopilot, it holds its fire
    // along the bottom rows toward its own base.
    void Press(int player, long t) {
        static const int kMoves[2][4] = {{38, 40, 37, 39}, {87, 90, 65, 83}};
        const long period = player == 1 ? 29 : 41;
        for (int k = 0; k < 4; ++k)
            input.SetKey(kMoves[player - 1][k], k == int((t / period + player) % 4));
        const kdv::PlayerTank& tank = game->Player(player);
        const bool atBase = tank.y >= 164 && ((tank.facing == kdv::dirRight && tank.x <= 112) ||
                                              (tank.facing == kdv::dirLeft && tank.x >= 128));
        input.SetKey(player == 1 ? 17 : 16, (t / 7) % 3 != 0 && !atBase);
    }

    void Run(long n, int players) {
        for (long i = 0; i < n; ++i, ++ticks) {
            for (int p = 1; p <= players; ++p) Press(p, ticks);
            input.SetKey(32, ticks % 300 == 0);
            const bool wasEnded = game->StageEnded;
            kdv::DXTimerTimer(*game);
            clock.now += kdv::kTimerInterval;
            ASSERT_FALSE(window.failed) << window.failure;
            if (game->StageEnded && !wasEnded) ++stagesEnded;
        }
    }
};

}  // namespace

TEST(Soak, DemonstrationRunsAndHoldsItsMemory) {
    Soak s;
    kdv::ClickMenu(*s.game, "MDemo");
    s.Run(20000, 0);
    const long settled = liveBlocks.load();
    s.Run(380000, 0);
    EXPECT_GT(s.stagesEnded, 3);  // demos end and start again from the title
    EXPECT_EQ(liveBlocks.load(), settled);
}

TEST(Soak, ScriptedGamesInEveryModeHoldTheirMemory) {
    for (const char* start : {"MStart1Player", "MStart2Player", "MStartDuel"}) {
        Soak s;
        kdv::ClickMenu(*s.game, start);
        const int players = std::string(start) == "MStart1Player" ? 1 : 2;
        s.Run(15000, players);
        const long settled = liveBlocks.load();
        s.Run(185000, players);
        EXPECT_GT(s.stagesEnded, 1) << start;
        EXPECT_GT(s.game->soundsPlayed[kdv::sfxEnemyDestroyed], 10u) << start;
        EXPECT_EQ(liveBlocks.load(), settled) << start;
    }
}
