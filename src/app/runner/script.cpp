#include "app/runner/script.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/runner/command_line.h"
#include "app/runner/state_json.h"
#include "core/dialogs/dialogs.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "recording/recorded_game.h"
#include "support/png.h"

namespace runner {
namespace {

// The last two are the window's own steps: back to the title after a network game, and the
// older step that kept the demo's mode (as the replays made before play it).
constexpr const char* kMenuItems[] = {
    "MDemo",         "MStart1Player", "MStart2Player", "MStartDuel",   "MLevelEditor",
    "PauseOnOffP1",  "PaletteType",   "MLangEnglish",  "MLangRussian", "N320x200Alt11",
    "N640x400Alt21", "MFullWin",      "MExit",         "MOptions",     "MSelectLevel",
    "MAbout",        "BackToTitle",   "EnterTitle",
};

bool ParseNumber(const std::string& s, long& out) {
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && end == s.data() + s.size() && !s.empty();
}

void WriteFile(const std::string& path, const void* data, size_t size) {
    std::ofstream out(path, std::ios::binary);
    out.write(static_cast<const char*>(data), std::streamsize(size));
    out.close();
    if (!out) throw std::runtime_error("cannot write \"" + path + "\"");
}

void WriteScreens(const std::string& prefix, const kdv::Game& game) {
    WriteFile(prefix + ".back", game.BackScreen.Bytes().data(), kdv::kScreenPixels);
    WriteFile(prefix + ".frame", game.FrameScreen.Bytes().data(), kdv::kScreenPixels);
    std::vector<uint8_t> rgb(size_t(kdv::kScreenPixels) * 3);
    const uint8_t* frame = game.FrameScreen.Bytes().data() + kdv::kPresentOffset;
    for (int i = 0; i < kdv::kScreenPixels; ++i)
        kdv::PixelToRgb(game.PixelTable[frame[i]], game.Settings.paletteType, &rgb[size_t(i) * 3]);
    if (!support::WritePng(prefix + ".png", kdv::kScreenWidth, kdv::kScreenHeight, rgb))
        throw std::runtime_error("cannot write \"" + prefix + ".png\"");
}

}  // namespace

Script ParseScript(std::istream& in) {
    Script script;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream words(line);
        std::string tickText, verb;
        if (!(words >> tickText) || tickText[0] == '#') continue;
        auto fail = [&](const std::string& why) { throw ScriptError(number, why); };
        Command c;
        c.line = number;
        if (!ParseNumber(tickText, c.tick) || c.tick < 1 || c.tick > kMaxTicks)
            fail("a tick is a number from 1 to " + std::to_string(kMaxTicks));
        if (!(words >> verb)) fail("a verb must follow the tick");
        std::vector<std::string> args;
        for (std::string w; words >> w;) args.push_back(w);
        auto want = [&](size_t n) {
            if (args.size() != n) fail(verb + " takes " + std::to_string(n) + " argument(s)");
        };
        if (verb == "key" || verb == "joy") {
            want(2);
            long code = 0;
            const bool isKey = verb == "key";
            if (!ParseNumber(args[0], code) || code < 0 || code > (isKey ? 255 : 35))
                fail(isKey ? "a key is a virtual-key code 0..255" : "a joystick state is 0..35");
            const char* onWord = isKey ? "down" : "on";
            const char* offWord = isKey ? "up" : "off";
            if (args[1] != onWord && args[1] != offWord)
                fail(verb + " ends with " + onWord + " or " + offWord);
            c.verb = isKey ? Command::Key : Command::Joy;
            c.code = int(code);
            c.on = args[1] == onWord;
        } else if (verb == "menu") {
            want(1);
            bool known = false;
            for (const char* item : kMenuItems) known = known || args[0] == item;
            if (!known) fail("no menu item is named \"" + args[0] + "\"");
            c.verb = Command::Menu;
            c.text = args[0];
        } else if (verb == "dump" || verb == "screen" || verb == "forms") {
            want(1);
            c.verb = verb == "dump"     ? Command::Dump
                     : verb == "screen" ? Command::Screen
                                        : Command::Forms;
            c.text = args[0];
        } else if (verb == "select") {
            want(2);
            long stage = 0, mode = 0;
            if (!ParseNumber(args[0], stage) || stage < 1 || stage > 65535)
                fail("select takes a stage number from 1");
            if (!ParseNumber(args[1], mode) || mode < 0 || mode > 2)
                fail("select's game is 0 one player, 1 two players or 2 duel");
            c.verb = Command::Select;
            c.code = int(stage);
            c.mode = int(mode);
        } else if (verb == "option") {
            if (args.size() == 1) {
                if (args[0] != "ok" && args[0] != "cancel" && args[0] != "defaults")
                    fail("option takes SECTION/KEY VALUE, or ok, cancel or defaults");
                c.text = args[0];
            } else if (args.size() == 2) {
                long value = 0;
                if (args[0].find('/') == std::string::npos)
                    fail("option names a key as SECTION/KEY, as in Options/SoundVolume");
                if (!ParseNumber(args[1], value) || value > 1000000 || value < -1000000)
                    fail("option's value is a number");
                c.text = args[0];
                c.code = int(value);
            } else {
                fail("option takes SECTION/KEY VALUE, or ok, cancel or defaults");
            }
            c.verb = Command::Option;
        } else {
            fail("unknown verb \"" + verb + "\"");
        }
        script.lastTick = std::max(script.lastTick, c.tick);
        script.commands.push_back(c);
    }
    return script;
}

Script LoadScript(const std::string& path) {
    std::error_code ec;
    // A folder opens as a stream that reads nothing, which would pass as an empty script.
    if (!std::filesystem::is_regular_file(path, ec))
        throw ScriptError(0, "\"" + path + "\" is not a file");
    // Refused before it is read: a huge file would only fill the memory with commands.
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) throw ScriptError(0, "cannot read the script \"" + path + "\"");
    if (size > kMaxScriptBytes)
        throw ScriptError(0, "\"" + path + "\" holds " + std::to_string(size) +
                                 " bytes; a script may hold at most " +
                                 std::to_string(kMaxScriptBytes));
    std::ifstream in(path);
    if (!in) throw ScriptError(0, "cannot read the script \"" + path + "\"");
    return ParseScript(in);
}

ScriptPlayer::ScriptPlayer(Script script) : script_(std::move(script)) {
    for (size_t i = 0; i < script_.commands.size(); ++i)
        byTick_[script_.commands[i].tick].push_back(i);
}

bool ScriptPlayer::HasInputs() const {
    for (const Command& c : script_.commands)
        if (c.verb != Command::Dump && c.verb != Command::Screen && c.verb != Command::Forms)
            return true;
    return false;
}

const std::vector<size_t>& ScriptPlayer::CommandsOf(long tick) const {
    static const std::vector<size_t> kNone;
    auto it = byTick_.find(tick);
    return it == byTick_.end() ? kNone : it->second;
}

void ScriptPlayer::ApplyInputs(long tick, recording::RecordedGame& recorded, InputSink& input) {
    kdv::Game& game = recorded.Game();
    for (size_t i : CommandsOf(tick)) {
        const Command& c = script_.commands[i];
        switch (c.verb) {
            case Command::Key:
                input.SetKey(c.code, c.on);
                if (!c.on) break;
                recorded.KeyDown(c.code, input.KeyHeld(18));
                break;
            case Command::Joy:
                input.SetJoyState(c.code, c.on);
                break;
            case Command::Menu:
                recorded.Menu(c.text);
                break;
            case Command::Select:
                if (auto error = recorded.SelectOk(c.code, c.mode))
                    throw ScriptError(c.line, *error);
                break;
            case Command::Option:
                // The first option line opens the dialog's working copy.
                if (!game.OptionsEdit.open) kdv::OptionFormShow(game);
                if (c.text == "ok") {
                    recorded.OptionsOk();
                } else if (c.text == "cancel") {
                    kdv::OptionCancelClick(game);
                } else if (c.text == "defaults") {
                    kdv::DefaultsClick(game);
                } else if (auto error = kdv::SetOptionByKey(game, c.text, c.code)) {
                    throw ScriptError(c.line, *error);
                }
                break;
            default:
                break;
        }
    }
}

void ScriptPlayer::ApplyOutputs(long tick, const kdv::Game& game, long tickCount) {
    for (size_t i : CommandsOf(tick)) {
        const Command& c = script_.commands[i];
        if (c.verb == Command::Dump) {
            const std::string json = StateJson(game, tickCount);
            WriteFile(c.text, json.data(), json.size());
        } else if (c.verb == Command::Screen) {
            WriteScreens(c.text, game);
        } else if (c.verb == Command::Forms) {
            if (!formsJson) throw ScriptError(c.line, "forms needs the window (no --headless)");
            const std::string json = formsJson();
            WriteFile(c.text, json.data(), json.size());
        }
    }
}

bool ScriptPlayer::UsesForms() const {
    for (const Command& c : script_.commands)
        if (c.verb == Command::Forms) return true;
    return false;
}

std::vector<std::string> ScriptPlayer::OutputsAfter(long tick) const {
    std::vector<std::string> lines;
    for (const Command& c : script_.commands)
        if ((c.verb == Command::Dump || c.verb == Command::Screen) && c.tick > tick)
            lines.push_back("line " + std::to_string(c.line) + ": " +
                            (c.verb == Command::Dump ? "dump " : "screen ") + c.text + " at tick " +
                            std::to_string(c.tick) + " was not written: the game ran to tick " +
                            std::to_string(tick));
    return lines;
}

}  // namespace runner
