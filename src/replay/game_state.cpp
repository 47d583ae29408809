#include "replay/game_state.h"

#include <algorithm>
#include <limits>

#include "core/game.h"
#include "replay/bytes.h"

namespace replay {
namespace {

// Every field that the next game can read, in one order for writing and reading. Fields that
// choose a state, a mode, a direction, a tile or a kind get the ranges the game gives them, so
// that a damaged file is refused rather than played.
template <class G, class F>
void Visit(G& g, F& f) {
    auto bullet = [&](auto& b) {
        f.Int(b.nextStepTick), f.Int(b.stepPeriod), f.Int(b.nextBurstTick), f.Int(b.burstPeriod);
        f.Int(b.x), f.Int(b.y), f.Int(b.state, 0, 5), f.Int(b.speed);
        f.Int(b.lastDirection, 0, 4), f.Int(b.power), f.Int(b.burstFrames);
        f.Int(b.hitKind), f.Int(b.owner, 0, 2), f.Bool(b.done);
    };
    auto explosion = [&](auto& e) {
        f.Int(e.nextFrameTick), f.Int(e.framePeriod), f.Int(e.x), f.Int(e.y);
        f.Int(e.framesLeft), f.Bool(e.active);
    };
    auto caption = [&](auto& c) {
        f.Int(c.nextMoveTick), f.Int(c.movePeriod), f.Int(c.endTick), f.Int(c.length);
        f.Int(c.x), f.Int(c.y), f.Bool(c.active);
    };
    f.Int(g.RandSeed), f.Int(g.PresentToggle), f.Int(g.NextPauseToggleTime), f.Int(g.LastKeyDown);
    f.Int(g.GameState, 0, 7), f.Int(g.GameClock), f.Bool(g.Paused), f.Int(g.GameMode, 0, 3);
    f.Int(g.SavedMode, 0, 3), f.Int(g.StageNumber, 0, 65535), f.Int(g.LevelCount, 0, 65535);
    f.Bool(g.NewGamePending), f.Int(g.EnemyLimit, 0, kdv::kEnemySlots), f.Bool(g.StageEnded);
    f.Int(g.StarPeriod, 1, 64);
    f.Int(g.TitleScroll.TargetRow), f.Int(g.TitleScroll.Row);
    f.Int(g.TitleScroll.NextDue);
    for (auto& n : g.soundsPlayed) f.Int(n);
    for (auto& p : g.players) {
        f.Int(p.nextStepTick), f.Int(p.stepPeriod), f.Int(p.score), f.Int(p.x);
        f.Int(p.y), f.Int(p.spriteBase), f.Int(p.commandedDirection, 0, 4);
        f.Int(p.facing, 0, 4), f.Bool(p.autopilotFired), f.Int(p.autopilotTargetKind, 0, 2);
        f.Int(p.autopilotTargetSlot, 0, kdv::kEnemySlots), f.Int(p.colourOffset);
        f.Int(p.stepsLeft), f.Int(p.level), f.Int(p.lives);
        for (auto& k : p.kills) f.Int(k);
        f.Int(p.shield.endTick), f.Int(p.shield.duration), f.Int(p.shield.nextFlashTick);
        f.Int(p.shield.flashPeriod), f.Bool(p.shield.phase), f.Bool(p.shield.active);
        explosion(p.explosion);
        bullet(p.bullet);
        f.Bool(p.alive), f.Bool(p.acceptsCommand), f.Bool(p.trackPhase), f.Bool(p.locked);
        f.Bool(p.mayRespawn), f.Bool(p.blocked), f.Bool(p.autopilotHasTarget);
    }
    for (auto& cell : g.MapGrid) f.Int(cell, 0, kdv::kMaxTileCode);
    for (auto& kind : g.EnemyLineup) f.Int(kind, 0, kdv::kEnemyKinds - 1);
    for (auto& e : g.enemies) {
        f.Int(e.nextStepTick), f.Int(e.stepPeriod), f.Int(e.nextFireTick), f.Int(e.firePeriod);
        f.Int(e.starPeriod), f.Int(e.frozenUntil), f.Int(e.freezeDuration), f.Int(e.x);
        f.Int(e.y), f.Int(e.spriteBase), f.Int(e.moveDirection, 0, 4);
        f.Int(e.facing, 0, 4), f.Bool(e.started), f.Int(e.colourOffset), f.Int(e.stepsLeft);
        f.Int(e.bulletPower), f.Int(e.kind, 0, kdv::kEnemyKinds - 1), f.Int(e.armour);
        explosion(e.explosion);
        bullet(e.bullet);
        f.Bool(e.alive), f.Bool(e.mayTurn), f.Bool(e.trackPhase), f.Bool(e.entering);
        f.Bool(e.blocked), f.Bool(e.frozen);
    }
    f.Int(g.Bonus.endTick), f.Int(g.Bonus.duration), f.Int(g.Bonus.x);
    f.Int(g.Bonus.y), f.Int(g.Bonus.spriteBase), f.Int(g.Bonus.kind);
    f.Int(g.Bonus.collector, 0, 2), f.Bool(g.Bonus.active);
    f.Int(g.BaseFortification.endTick), f.Int(g.BaseFortification.duration);
    f.Int(g.BaseFortification.x), f.Int(g.BaseFortification.y);
    f.Bool(g.BaseFortification.active);
    caption(g.GameOverCaption.base), caption(g.GameOverCaption.player1);
    caption(g.GameOverCaption.player2);
    f.Int(g.EnemyReserve.nextArrivalTick), f.Int(g.EnemyReserve.arrivalPeriod);
    f.Int(g.EnemyReserve.clearTick), f.Int(g.EnemyReserve.clearDelay);
    f.Int(g.EnemyReserve.remaining, 0, 20), f.Int(g.EnemyReserve.nextPlace, 0, 3);
    f.Bool(g.EnemyReserve.StageWon);
    f.Int(g.TileAnimation.nextToggleTick), f.Int(g.TileAnimation.togglePeriod);
    f.Bool(g.TileAnimation.phase);
    f.Int(g.Tally.originX), f.Int(g.Tally.originY), f.Int(g.Tally.rowOffset);
    f.Int(g.Tally.phase, 0, 6), f.Int(g.Tally.total1), f.Int(g.Tally.total2), f.Int(g.Tally.period);
    f.Int(g.Tally.nextDue);
    f.Int(g.Editor.column, 0, kdv::kMapColumns - 1), f.Int(g.Editor.row, 0, kdv::kMapRows - 1);
    f.Int(g.Editor.wallKind, 0, kdv::kMaxTileCode), f.Bool(g.Editor.blink);
    f.Bool(g.Editor.lastBlink), f.Int(g.Editor.nextBlink);
    f.Int(g.counters.baseShot), f.Int(g.counters.playerShotsStopped);
    f.Int(g.counters.playerShotsShort);
    for (auto& n : g.counters.shotFromX) f.Int(n);
    for (auto& n : g.counters.shotFromY) f.Int(n);
    f.Screen(g.BackScreen);
    f.Screen(g.FrameScreen);
}

class Save {
  public:
    Writer w;
    template <class T>
    void Int(const T& v, int64_t = 0, int64_t = 0) {
        w.Signed(int64_t(v));
    }
    void Bool(const bool& v) { w.Byte(v); }
    // Screens as runs of one colour: mostly empty or flat between games.
    void Screen(const kdv::ScreenBuffer& s) {
        const auto& b = s.bytes;
        for (size_t i = 0; i < b.size();) {
            size_t j = i + 1;
            while (j < b.size() && b[j] == b[i]) ++j;
            w.Unsigned(j - i);
            w.Byte(b[i]);
            i = j;
        }
    }
};

class Load {
  public:
    explicit Load(std::span<const uint8_t> bytes) : r(bytes) {}
    Reader r;
    template <class T>
    void Int(T& v, int64_t low = std::numeric_limits<T>::min(),
             int64_t high = std::numeric_limits<T>::max()) {
        v = T(r.Range(low, high, "the game's state"));
    }
    void Bool(bool& v) {
        const uint8_t b = r.Byte("the game's state");
        if (b > 1) r.Fail("a flag of the game's state is neither 0 nor 1");
        v = b == 1;
    }
    void Screen(kdv::ScreenBuffer& s) {
        auto& b = s.bytes;
        for (size_t i = 0; i < b.size() && r.Ok();) {
            const uint64_t run = r.Unsigned("a screen");
            const uint8_t colour = r.Byte("a screen");
            if (run == 0 || run > b.size() - i) return r.Fail("a screen does not fit its size");
            std::fill_n(b.begin() + long(i), size_t(run), colour);
            i += size_t(run);
        }
    }
};

}  // namespace

std::vector<uint8_t> SaveGameState(const kdv::Game& game) {
    Save save;
    Visit(game, save);
    return std::move(save.w.out);
}

bool LoadGameState(std::span<const uint8_t> bytes, kdv::Game& game, std::string& why) {
    Load load(bytes);
    Visit(game, load);
    if (load.r.Ok() && load.r.Left() != 0) load.r.Fail("the game's state is followed by stray bytes");
    why = load.r.Error();
    return load.r.Ok();
}

bool CheckGameState(std::span<const uint8_t> bytes, std::string& why) {
    // A game to read into: nothing of it is used.
    static const std::unique_ptr<kdv::Game> scratch = kdv::MakeGame({});
    return LoadGameState(bytes, *scratch, why);
}

}  // namespace replay
