#pragma once
// Scripts of the headless runner (and of the window, for automated checks): one command a line,
// "TICK VERB ARGS". Input commands of a tick are applied just before its input poll, dump and
// screen just after its game step.
#include <cstdint>
#include <functional>
#include <istream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace kdv {
struct Game;
}
namespace recording {
class RecordedGame;
}

namespace runner {

// A million commands or so; a file larger than this is refused unread.
constexpr uintmax_t kMaxScriptBytes = uintmax_t(16) << 20;

struct ScriptError : std::runtime_error {
    ScriptError(int line, const std::string& message)
        : std::runtime_error("line " + std::to_string(line) + ": " + message), line(line) {}
    int line;
};

struct Command {
    // select: Ok on the level dialog; option: an edit of the options dialog's working copy
    // (text "Section/Key" with code the value, or "ok", "cancel", "defaults"); forms: the
    // window's forms as JSON.
    enum Verb { Key, Joy, Menu, Dump, Screen, Select, Option, Forms };
    long tick = 0;
    Verb verb = Key;
    int code = 0;      // key: virtual-key code; joy: state 0..35; select: stage; option: value
    int mode = 0;      // select: 0 one player, 1 two players, 2 duel
    bool on = false;   // key down / joy on
    std::string text;  // menu item, dump file, screen prefix
    int line = 0;
};

struct Script {
    std::vector<Command> commands;  // in file order
    long lastTick = 0;
};

// Throws ScriptError with the line number of the first line that cannot be parsed.
Script ParseScript(std::istream& in);
Script LoadScript(const std::string& path);

// Where the input commands go: the program's keyboard and joystick state.
class InputSink {
  public:
    virtual ~InputSink() = default;
    virtual void SetKey(int code, bool down) = 0;
    virtual void SetJoyState(int state, bool on) = 0;
    virtual bool KeyHeld(int code) const = 0;  // live state, for Alt in the key handler
};

class ScriptPlayer {
  public:
    explicit ScriptPlayer(Script script);
    long LastTick() const { return script_.lastTick; }
    // Whether any line is a key, joy, menu, select or option command.
    bool HasInputs() const;
    // key, joy, menu, select and option commands of the tick, in file order; a key going down
    // also reaches the main window's key handler. Keys, menu commands and the dialogs' Oks go
    // through the recorded game as the window's do. Throws ScriptError when the game refuses a
    // command (a stage past the level file's last, a value no control can give).
    void ApplyInputs(long tick, recording::RecordedGame& game, InputSink& input);
    // dump and screen commands of the tick; throws std::runtime_error when a file cannot be
    // written. tickCount is the number of ticks run so far.
    void ApplyOutputs(long tick, const kdv::Game& game, long tickCount);
    // The window's forms as JSON, for the forms verb; without it the verb is an error.
    std::function<std::string()> formsJson;
    bool UsesForms() const;

    // One message for each dump or screen command scheduled after the given tick, the last
    // whose outputs were taken (the game closed, or ran out of ticks, before them).
    std::vector<std::string> OutputsAfter(long tick) const;

  private:
    const std::vector<size_t>& CommandsOf(long tick) const;

    Script script_;
    std::map<long, std::vector<size_t>> byTick_;  // command indices, in file order
};

}  // namespace runner
