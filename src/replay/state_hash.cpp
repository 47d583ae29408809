#include "replay/state_hash.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/game.h"
#include "replay/format.h"

namespace replay {
namespace {

// A small writer for one JSON object per line-per-key, stable in its formatting so that two
// dumps of the same state are byte-identical. It writes through a cursor into a buffer that
// grows, a key or a number at a time: the checks made while a replay plays take a dump every
// checkpoint.
class Json {
  public:
    std::string Text() {
        Put('\n');
        return std::string(out_.get(), used_);
    }

    void Open(const char* key = nullptr) { Begin(key, '{'); }
    void Close() { End('}'); }

    template <typename T>
    void Number(const char* key, T value) {
        Key(key);
        Append(static_cast<long long>(value));
    }
    void Bool(const char* key, bool value) {
        Key(key);
        if (value)
            Put("true", 4);
        else
            Put("false", 5);
    }
    template <typename Container>
    void Numbers(const char* key, const Container& values, size_t from = 0) {
        Key(key);
        Put('[');
        for (size_t i = from; i < values.size(); ++i) {
            if (i > from) Put(", ", 2);
            Append(static_cast<long long>(values[i]));
        }
        Put(']');
    }
    void OpenArray(const char* key) { Begin(key, '['); }
    void CloseArray() { End(']'); }

  private:
    // Less than a dump takes, so that every dump also grows the buffer.
    static constexpr size_t kFirstSize = 1 << 12;
    // Room for `count` more bytes, at the cursor.
    char* Room(size_t count) {
        if (used_ + count > size_) {
            const size_t size = std::max({2 * size_, used_ + count, kFirstSize});
            std::unique_ptr<char[]> grown(new char[size]);  // left unwritten
            if (used_) std::memcpy(grown.get(), out_.get(), used_);
            out_ = std::move(grown);
            size_ = size;
        }
        return out_.get() + used_;
    }
    // The indent of a line at the depth, written as whole words of spaces (at the cursor, with
    // room for kIndentRoom bytes): a short fill of varying length would be a call.
    static constexpr size_t kIndentRoom = 16;
    char* Indent(char* at) const {
        const size_t indent = size_t(depth_) * 2;
        if (indent > kIndentRoom) return std::fill_n(at, indent, ' ');
        std::memcpy(at, "                ", kIndentRoom);
        return at + indent;
    }
    void Put(const char* text, size_t count) {
        std::memcpy(Room(count), text, count);
        used_ += count;
    }
    void Put(char c) {
        *Room(1) = c;
        ++used_;
    }
    void Append(long long value) {
        constexpr size_t kDigits = 24;
        char* at = Room(kDigits);
        used_ += size_t(std::to_chars(at, at + kDigits, value).ptr - at);
    }
    // A comma after what came before, a new line, the indent, and the key if there is one.
    void Key(const char* key) {
        const size_t length = key ? std::strlen(key) : 0;
        char* const at = Room(std::max(size_t(depth_) * 2, kIndentRoom) + length + 6);
        char* p = at;
        if (!first_) *p++ = ',';
        *p++ = '\n';
        p = Indent(p);
        if (key) {
            *p++ = '"';
            p = std::copy_n(key, length, p);
            p = std::copy_n("\": ", 3, p);
        }
        used_ += size_t(p - at);
        first_ = false;
    }
    void Begin(const char* key, char bracket) {
        if (depth_ > 0 || !first_) Key(key);
        Put(bracket);
        ++depth_;
        first_ = true;
    }
    void End(char bracket) {
        --depth_;
        if (!first_) {
            Put('\n');
            char* const at = Room(std::max(size_t(depth_) * 2, kIndentRoom));
            used_ += size_t(Indent(at) - at);
        }
        Put(bracket);
        first_ = false;
    }

    std::unique_ptr<char[]> out_;
    size_t size_ = 0;
    size_t used_ = 0;  // bytes written; the rest of out_ is room
    int depth_ = 0;
    bool first_ = true;
};

void WriteBullet(Json& j, const kdv::Bullet& b, bool withOwner) {
    j.Open("bullet");
    j.Number("nextStepTick", b.nextStepTick);
    j.Number("stepPeriod", b.stepPeriod);
    j.Number("nextBurstTick", b.nextBurstTick);
    j.Number("burstPeriod", b.burstPeriod);
    j.Number("x", b.x);
    j.Number("y", b.y);
    j.Number("state", b.state);
    j.Number("speed", b.speed);
    j.Number("lastDirection", b.lastDirection);
    j.Number("power", b.power);
    j.Number("burstFrames", b.burstFrames);
    j.Number("hitKind", b.hitKind);
    if (withOwner) j.Number("owner", b.owner);
    j.Bool("done", b.done);
    j.Close();
}

void WriteExplosion(Json& j, const kdv::Explosion& e) {
    j.Open("explosion");
    j.Number("nextFrameTick", e.nextFrameTick);
    j.Number("framePeriod", e.framePeriod);
    j.Number("x", e.x);
    j.Number("y", e.y);
    j.Number("framesLeft", e.framesLeft);
    j.Bool("active", e.active);
    j.Close();
}

void WritePlayer(Json& j, const kdv::PlayerTank& p) {
    j.Open();
    j.Number("nextStepTick", p.nextStepTick);
    j.Number("stepPeriod", p.stepPeriod);
    j.Number("score", p.score);
    j.Number("x", p.x);
    j.Number("y", p.y);
    j.Number("spriteBase", p.spriteBase);
    j.Number("commandedDirection", p.commandedDirection);
    j.Number("facing", p.facing);
    j.Bool("autopilotFired", p.autopilotFired);
    j.Number("autopilotTargetKind", p.autopilotTargetKind);
    j.Number("autopilotTargetSlot", p.autopilotTargetSlot);
    j.Number("colourOffset", p.colourOffset);
    j.Number("stepsLeft", p.stepsLeft);
    j.Number("level", p.level);
    j.Number("lives", p.lives);
    j.Numbers("kills", p.kills);
    j.Open("shield");
    j.Number("endTick", p.shield.endTick);
    j.Number("duration", p.shield.duration);
    j.Number("nextFlashTick", p.shield.nextFlashTick);
    j.Number("flashPeriod", p.shield.flashPeriod);
    j.Bool("phase", p.shield.phase);
    j.Bool("active", p.shield.active);
    j.Close();
    WriteExplosion(j, p.explosion);
    WriteBullet(j, p.bullet, true);
    j.Bool("alive", p.alive);
    j.Bool("acceptsCommand", p.acceptsCommand);
    j.Bool("trackPhase", p.trackPhase);
    j.Bool("locked", p.locked);
    j.Bool("mayRespawn", p.mayRespawn);
    j.Bool("blocked", p.blocked);
    j.Bool("autopilotHasTarget", p.autopilotHasTarget);
    j.Close();
}

void WriteEnemy(Json& j, const kdv::EnemyTank& e) {
    j.Open();
    j.Number("nextStepTick", e.nextStepTick);
    j.Number("stepPeriod", e.stepPeriod);
    j.Number("nextFireTick", e.nextFireTick);
    j.Number("firePeriod", e.firePeriod);
    j.Number("starPeriod", e.starPeriod);
    j.Number("frozenUntil", e.frozenUntil);
    j.Number("freezeDuration", e.freezeDuration);
    j.Number("x", e.x);
    j.Number("y", e.y);
    j.Number("spriteBase", e.spriteBase);
    j.Number("moveDirection", e.moveDirection);
    j.Number("facing", e.facing);
    j.Bool("started", e.started);
    j.Number("colourOffset", e.colourOffset);
    j.Number("stepsLeft", e.stepsLeft);
    j.Number("bulletPower", e.bulletPower);
    j.Number("kind", e.kind);
    j.Number("armour", e.armour);
    WriteExplosion(j, e.explosion);
    WriteBullet(j, e.bullet, false);
    j.Bool("alive", e.alive);
    j.Bool("mayTurn", e.mayTurn);
    j.Bool("trackPhase", e.trackPhase);
    j.Bool("entering", e.entering);
    j.Bool("blocked", e.blocked);
    j.Bool("frozen", e.frozen);
    j.Close();
}

void WriteCaption(Json& j, const char* key, const kdv::GameOverCaption& c) {
    j.Open(key);
    j.Number("nextMoveTick", c.nextMoveTick);
    j.Number("movePeriod", c.movePeriod);
    j.Number("endTick", c.endTick);
    j.Number("length", c.length);
    j.Number("x", c.x);
    j.Number("y", c.y);
    j.Bool("active", c.active);
    j.Close();
}

void WriteSettings(Json& j, const kdv::Settings& s, const char* key = "Settings") {
    j.Open(key);
    j.Number("soundVolume", s.soundVolume);
    j.Number("gameDifficulty", s.gameDifficulty);
    j.Number("language", s.language);
    j.Bool("soundEnable", s.soundEnable);
    j.Bool("moreTanks", s.moreTanks);
    j.Bool("paletteType", s.paletteType);
    j.Bool("fullScreen", s.fullScreen);
    j.Bool("smallScreen", s.smallScreen);
    j.Bool("forceFeedback", s.forceFeedback);
    j.Numbers("keys1", s.keys1);
    j.Numbers("joystick1", s.joystick1);
    j.Numbers("keys2", s.keys2);
    j.Numbers("joystick2", s.joystick2);
    j.Close();
}

bool IsBound(const kdv::Settings& s, int code) {
    for (const kdv::BindingRow* row : {&s.keys1, &s.keys2})
        for (int32_t bound : *row)
            if (bound == code) return true;
    return false;
}

}  // namespace

std::string StateJson(const kdv::Game& g, long tick) {
    Json j;
    j.Open();
    j.Number("tick", tick);
    j.Number("GameState", g.GameState);
    j.Number("GameMode", g.GameMode);
    j.Number("SavedMode", g.SavedMode);
    j.Number("GameClock", g.GameClock);
    j.Bool("Paused", g.Paused);
    j.Number("StageNumber", g.StageNumber);
    j.Number("LevelCount", g.LevelCount);
    j.Bool("NewGamePending", g.NewGamePending);
    j.Number("EnemyLimit", g.EnemyLimit);
    j.Bool("StageEnded", g.StageEnded);
    j.Number("LastKeyDown", g.LastKeyDown);
    j.Number("NextPauseToggleTime", g.NextPauseToggleTime);
    j.Number("PresentToggle", g.PresentToggle);
    j.Open("TitleScroll");
    j.Number("TargetRow", g.TitleScroll.TargetRow);
    j.Number("Row", g.TitleScroll.Row);
    j.Number("NextDue", g.TitleScroll.NextDue);
    j.Close();
    WriteSettings(j, g.Settings);
    j.Numbers("soundsPlayed", g.soundsPlayed);

    j.OpenArray("players");
    for (const auto& p : g.players) WritePlayer(j, p);
    j.CloseArray();
    j.Numbers("MapGrid", g.MapGrid);
    j.Numbers("EnemyLineup", g.EnemyLineup, 1);

    j.OpenArray("enemies");
    for (const auto& e : g.enemies) WriteEnemy(j, e);
    j.CloseArray();
    j.Open("Bonus");
    j.Number("endTick", g.Bonus.endTick);
    j.Number("duration", g.Bonus.duration);
    j.Number("x", g.Bonus.x);
    j.Number("y", g.Bonus.y);
    j.Number("spriteBase", g.Bonus.spriteBase);
    j.Number("kind", g.Bonus.kind);
    j.Number("collector", g.Bonus.collector);
    j.Bool("active", g.Bonus.active);
    j.Close();
    j.Open("BaseFortification");
    j.Number("endTick", g.BaseFortification.endTick);
    j.Number("duration", g.BaseFortification.duration);
    j.Number("x", g.BaseFortification.x);
    j.Number("y", g.BaseFortification.y);
    j.Bool("active", g.BaseFortification.active);
    j.Close();
    j.Open("EnemyReserve");
    j.Number("nextArrivalTick", g.EnemyReserve.nextArrivalTick);
    j.Number("arrivalPeriod", g.EnemyReserve.arrivalPeriod);
    j.Number("clearTick", g.EnemyReserve.clearTick);
    j.Number("clearDelay", g.EnemyReserve.clearDelay);
    j.Number("remaining", g.EnemyReserve.remaining);
    j.Number("nextPlace", g.EnemyReserve.nextPlace);
    j.Bool("StageWon", g.EnemyReserve.StageWon);
    j.Close();
    j.Open("GameOverCaption");
    WriteCaption(j, "base", g.GameOverCaption.base);
    WriteCaption(j, "player1", g.GameOverCaption.player1);
    WriteCaption(j, "player2", g.GameOverCaption.player2);
    j.Close();
    j.Open("TileAnimation");
    j.Number("nextToggleTick", g.TileAnimation.nextToggleTick);
    j.Number("togglePeriod", g.TileAnimation.togglePeriod);
    j.Bool("phase", g.TileAnimation.phase);
    j.Close();
    j.Open("Tally");
    j.Number("originX", g.Tally.originX);
    j.Number("originY", g.Tally.originY);
    j.Number("rowOffset", g.Tally.rowOffset);
    j.Number("phase", g.Tally.phase);
    j.Number("total1", g.Tally.total1);
    j.Number("total2", g.Tally.total2);
    j.Number("period", g.Tally.period);
    j.Number("nextDue", g.Tally.nextDue);
    j.Close();
    j.Open("Editor");
    j.Number("column", g.Editor.column);
    j.Number("row", g.Editor.row);
    j.Number("wallKind", g.Editor.wallKind);
    j.Bool("blink", g.Editor.blink);
    j.Bool("lastBlink", g.Editor.lastBlink);
    j.Number("nextBlink", g.Editor.nextBlink);
    j.Close();
    j.Open("SelectLevel");
    j.Number("position", g.SelectLevel.position);
    j.Number("gameItem", g.SelectLevel.gameItem);
    j.Close();
    j.Open("OptionsEdit");
    j.Bool("open", g.OptionsEdit.open);
    WriteSettings(j, g.OptionsEdit.working, "working");
    j.Close();
    // The bound keys the last input poll saw down, as the game step read them. Other keys
    // and whether a sound device was found are the machine's, not the game's: they change no
    // play, and the same game replayed elsewhere must dump the same.
    std::vector<int> keysDown;
    if (g.io.input)
        for (int code = 1; code <= 123; ++code)
            if (IsBound(g.Settings, code) && g.io.input->KeyDown(code)) keysDown.push_back(code);
    j.Numbers("KeysDown", keysDown);
    j.Close();
    return j.Text();
}

}  // namespace replay

namespace replay {

namespace {

using HashFn = uint64_t (*)(std::span<const uint8_t>, uint64_t);

uint64_t HashState(const kdv::Game& game, long tick, HashFn hashOf) {
    const std::string json = StateJson(game, tick);
    uint64_t hash = hashOf({reinterpret_cast<const uint8_t*>(json.data()), json.size()},
                           14695981039346656037ull);
    hash = hashOf({game.BackScreen.Bytes().data(), size_t(kdv::kScreenBytes)}, hash);
    hash = hashOf({game.FrameScreen.Bytes().data(), size_t(kdv::kScreenBytes)}, hash);
    // The colours a screen is shown in.
    uint8_t colours[2 * 256];
    for (size_t i = 0; i < 256; ++i) {
        colours[2 * i] = uint8_t(game.PixelTable[i]);
        colours[2 * i + 1] = uint8_t(game.PixelTable[i] >> 8);
    }
    hash = hashOf(std::span<const uint8_t>(colours), hash);
    const uint8_t seed[4] = {uint8_t(game.RandSeed), uint8_t(game.RandSeed >> 8),
                             uint8_t(game.RandSeed >> 16), uint8_t(game.RandSeed >> 24)};
    return hashOf(std::span<const uint8_t>(seed), hash);
}

}  // namespace

uint64_t StateHash(const kdv::Game& game, long tick) {
    return HashState(game, tick, Fnv1a);
}

uint64_t QuickStateHash(const kdv::Game& game, long tick) {
    return HashState(game, tick, WideHash);
}

}  // namespace replay
