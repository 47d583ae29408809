#include "replay/game_state.h"

#include <algorithm>
#include <array>
#include <limits>
#include <memory>
#include <string>

#include "core/game.h"
#include "replay/bytes.h"

namespace replay {
namespace {

// Every field that the next game can read, in one order for writing and reading. Fields that
// choose a state, a mode, a direction, a tile or a kind get the ranges the game gives them, so
// that a damaged file is refused rather than played.
// Where a 16-pixel sprite's corner can be, and a point of the screen. A bullet moves a few
// pixels past the edge it stops at, and its 16-bit position wraps below 0.
constexpr int kSpriteMaxX = kdv::kScreenWidth - 16, kSpriteMaxY = kdv::kScreenHeight - 16;
constexpr int kPointMaxX = kdv::kScreenWidth - 1, kPointMaxY = kdv::kScreenHeight - 1;
constexpr int kBulletMargin = 16;
// The largest values the game gives these counts: upgrade levels and bullet powers 0..3,
// strides and a computer tank's entry star of 8 steps, four hits of armour, six explosion
// pictures, three burst pictures, six bonus kinds, nine kinds of hit.
constexpr int kMaxLevel = 3, kMaxSteps = 8, kMaxArmour = 4, kMaxExplosionFrames = 6;
constexpr int kMaxBurstFrames = 3, kMaxBonusKind = 5, kMaxHitKind = kdv::hitBullet;

// Every field that the next game can read, in one order for writing and reading. Fields that
// choose a state, a mode, a direction, a tile or a kind, the counts, and where things stand on
// the screen get the ranges the game gives them, so that a damaged or crafted file is refused
// rather than played.
template <class G, class F>
void Visit(G& g, F& f) {
    // A computer tank's bullet has no owner (0): the dumps leave it out, so a state that gives
    // it one is refused rather than played differently under the same hash.
    auto bullet = [&](auto& b, int maxOwner) {
        f.Int(b.nextStepTick), f.Int(b.stepPeriod), f.Int(b.nextBurstTick), f.Int(b.burstPeriod);
        f.Near(b.x, b.y, "a bullet");
        f.Int(b.state, 0, 5), f.Count(b.speed, 3, "a bullet's speed");
        f.Int(b.lastDirection, 0, 4), f.Count(b.power, kMaxLevel, "a bullet's power");
        f.Count(b.burstFrames, kMaxBurstFrames, "a bullet's burst");
        f.Count(b.hitKind, kMaxHitKind, "what a bullet hit"), f.Int(b.owner, 0, maxOwner),
            f.Bool(b.done);
    };
    auto explosion = [&](auto& e) {
        f.Int(e.nextFrameTick), f.Int(e.framePeriod);
        f.At(e.x, e.y, kSpriteMaxX, kSpriteMaxY, "an explosion");
        f.Count(e.framesLeft, kMaxExplosionFrames, "an explosion's pictures"), f.Bool(e.active);
    };
    auto caption = [&](auto& c) {
        f.Int(c.nextMoveTick), f.Int(c.movePeriod), f.Int(c.endTick), f.Int(c.length);
        f.At(c.x, c.y, kPointMaxX, kPointMaxY, "a game-over caption"), f.Bool(c.active);
    };
    f.Int(g.RandSeed), f.Int(g.PresentToggle), f.Int(g.NextPauseToggleTime), f.Int(g.LastKeyDown);
    f.Int(g.GameState, 0, 7), f.Int(g.GameClock), f.Bool(g.Paused), f.Int(g.GameMode, 0, 3);
    f.Int(g.SavedMode, 0, 3), f.Int(g.StageNumber, 0, 65535);
    f.Count(g.LevelCount, kdv::kMaxLevelRecords, "the level count");
    f.Bool(g.NewGamePending), f.Int(g.EnemyLimit, 0, kdv::kEnemySlots), f.Bool(g.StageEnded);
    f.Int(g.StarPeriod, 1, 64);
    f.Int(g.TitleScroll.TargetRow), f.Int(g.TitleScroll.Row);
    f.Int(g.TitleScroll.NextDue);
    for (auto& n : g.soundsPlayed) f.Int(n);
    for (auto& p : g.players) {
        f.Int(p.nextStepTick), f.Int(p.stepPeriod), f.Int(p.score);
        f.At(p.x, p.y, kSpriteMaxX, kSpriteMaxY, "a player's tank");
        f.Int(p.spriteBase), f.Int(p.commandedDirection, 0, 4);
        f.Int(p.facing, 0, 4), f.Bool(p.autopilotFired), f.Int(p.autopilotTargetKind, 0, 2);
        f.Int(p.autopilotTargetSlot, 0, kdv::kEnemySlots), f.Int(p.colourOffset);
        f.Count(p.stepsLeft, kMaxSteps, "a player's stride");
        f.Count(p.level, kMaxLevel, "a player's upgrade level"), f.Int(p.lives);
        for (auto& k : p.kills) f.Int(k);
        f.Int(p.shield.endTick), f.Int(p.shield.duration), f.Int(p.shield.nextFlashTick);
        f.Int(p.shield.flashPeriod), f.Bool(p.shield.phase), f.Bool(p.shield.active);
        explosion(p.explosion);
        bullet(p.bullet, 2);
        f.Bool(p.alive), f.Bool(p.acceptsCommand), f.Bool(p.trackPhase), f.Bool(p.locked);
        f.Bool(p.mayRespawn), f.Bool(p.blocked), f.Bool(p.autopilotHasTarget);
    }
    for (auto& cell : g.MapGrid) f.Int(cell, 0, kdv::kMaxTileCode);
    for (auto& kind : g.EnemyLineup) f.Int(kind, 0, kdv::kEnemyKinds - 1);
    for (auto& e : g.enemies) {
        f.Int(e.nextStepTick), f.Int(e.stepPeriod), f.Int(e.nextFireTick), f.Int(e.firePeriod);
        f.Int(e.starPeriod), f.Int(e.frozenUntil), f.Int(e.freezeDuration);
        f.At(e.x, e.y, kSpriteMaxX, kSpriteMaxY, "a computer tank");
        f.Int(e.spriteBase), f.Int(e.moveDirection, 0, 4);
        f.Int(e.facing, 0, 4), f.Bool(e.started), f.Int(e.colourOffset);
        f.Count(e.stepsLeft, kMaxSteps, "a computer tank's stride");
        f.Count(e.bulletPower, kMaxLevel, "a computer tank's bullet power");
        f.Int(e.kind, 0, kdv::kEnemyKinds - 1),
            f.Count(e.armour, kMaxArmour, "a computer tank's armour");
        explosion(e.explosion);
        bullet(e.bullet, 0);
        f.Bool(e.alive), f.Bool(e.mayTurn), f.Bool(e.trackPhase), f.Bool(e.entering);
        f.Bool(e.blocked), f.Bool(e.frozen);
    }
    f.Int(g.Bonus.endTick), f.Int(g.Bonus.duration);
    f.At(g.Bonus.x, g.Bonus.y, kSpriteMaxX, kSpriteMaxY, "the bonus");
    f.Int(g.Bonus.spriteBase), f.Count(g.Bonus.kind, kMaxBonusKind, "the bonus's kind");
    f.Int(g.Bonus.collector, 0, 2), f.Bool(g.Bonus.active);
    f.Int(g.BaseFortification.endTick), f.Int(g.BaseFortification.duration);
    f.At(g.BaseFortification.x, g.BaseFortification.y, kPointMaxX, kPointMaxY,
         "the base's fortification");
    f.Bool(g.BaseFortification.active);
    caption(g.GameOverCaption.base), caption(g.GameOverCaption.player1);
    caption(g.GameOverCaption.player2);
    f.Int(g.EnemyReserve.nextArrivalTick), f.Int(g.EnemyReserve.arrivalPeriod);
    f.Int(g.EnemyReserve.clearTick), f.Int(g.EnemyReserve.clearDelay);
    f.Int(g.EnemyReserve.remaining, 0, 20), f.Int(g.EnemyReserve.nextPlace, 0, 3);
    f.Bool(g.EnemyReserve.StageWon);
    f.Int(g.TileAnimation.nextToggleTick), f.Int(g.TileAnimation.togglePeriod);
    f.Bool(g.TileAnimation.phase);
    f.At(g.Tally.originX, g.Tally.originY, kPointMaxX, kPointMaxY, "the score tally");
    f.Count(g.Tally.rowOffset, kdv::kScreenHeight, "the score tally's row");
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
    template <class T>
    void At(const T& x, const T& y, int, int, const char*) {
        Int(x), Int(y);
    }
    template <class T>
    void Near(const T& x, const T& y, const char*) {
        Int(x), Int(y);
    }
    template <class T>
    void Count(const T& v, int64_t, const char*) {
        Int(v);
    }
    void Bool(const bool& v) { w.Byte(v); }
    // Screens as runs of one colour: mostly empty or flat between games.
    void Screen(const kdv::ScreenBuffer& s) {
        const auto& b = s.Bytes();
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
    // A position on the screen, named in the refusal.
    template <class T>
    void At(T& x, T& y, int maxX, int maxY, const char* what) {
        const int64_t vx = r.Signed("the game's state"), vy = r.Signed("the game's state");
        if (r.Ok() && (vx < 0 || vx > maxX || vy < 0 || vy > maxY))
            r.Fail(std::string(what) + " is off the screen, at (" + std::to_string(vx) + ", " +
                   std::to_string(vy) + ")");
        x = r.Ok() ? T(vx) : T(), y = r.Ok() ? T(vy) : T();
    }
    // A bullet's position: on the screen or within a margin of it, either side.
    void Near(uint16_t& x, uint16_t& y, const char* what) {
        At(x, y, 65535, 65535, what);
        auto near = [](uint16_t v, int max) {
            return int16_t(v) >= -kBulletMargin && int16_t(v) <= max + kBulletMargin;
        };
        if (r.Ok() && !(near(x, kPointMaxX) && near(y, kPointMaxY)))
            r.Fail(std::string(what) + " is off the screen, at (" + std::to_string(int16_t(x)) +
                   ", " + std::to_string(int16_t(y)) + ")");
    }
    // A count of the game's, named in the refusal.
    template <class T>
    void Count(T& v, int64_t high, const char* what) {
        const int64_t n = r.Signed("the game's state");
        if (r.Ok() && (n < 0 || n > high))
            r.Fail(std::string(what) + " is " + std::to_string(n) + ", where the game goes up to " +
                   std::to_string(high));
        v = r.Ok() ? T(n) : T();
    }
    void Bool(bool& v) {
        const uint8_t b = r.Byte("the game's state");
        if (b > 1) r.Fail("a flag of the game's state is neither 0 nor 1");
        v = b == 1;
    }
    void Screen(kdv::ScreenBuffer& s) {
        auto b = std::make_unique<std::array<uint8_t, kdv::kScreenBytes>>(s.Bytes());
        for (size_t i = 0; i < b->size() && r.Ok();) {
            const uint64_t run = r.Unsigned("a screen");
            const uint8_t colour = r.Byte("a screen");
            if (run == 0 || run > b->size() - i) {
                r.Fail("a screen does not fit its size");
                break;
            }
            std::fill_n(b->begin() + long(i), size_t(run), colour);
            i += size_t(run);
        }
        s.Load(*b);
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
    if (load.r.Ok() && load.r.Left() != 0)
        load.r.Fail("the game's state is followed by stray bytes");
    why = load.r.Error();
    return load.r.Ok();
}

bool CheckGameState(std::span<const uint8_t> bytes, std::string& why) {
    // A game to read into: nothing of it is used.
    static const std::unique_ptr<kdv::Game> scratch = kdv::MakeGame({});
    return LoadGameState(bytes, *scratch, why);
}

}  // namespace replay
