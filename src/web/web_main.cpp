// The game in the page: page.js calls these between animation frames. One game runs at a time,
// recorded from its start like the desktop window's; a replay is watched or checked on a game of
// its own, so the player's game is left as it was.
#include <emscripten.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "adapters/virtual_devices.h"
#include "app/qt/captions.h"
#include "app/runner/state_json.h"
#include "core/controls/player_controls.h"
#include "core/controls/settings.h"
#include "core/dialogs/dialogs.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "replay/format.h"
#include "replay/library.h"
#include "replay/playback.h"
#include "replay/recorder.h"
#include "web/web_devices.h"

#ifndef KORDAVEL_VERSION
#define KORDAVEL_VERSION "0"
#endif

namespace web {
namespace {

struct Watching {
    adapters::VirtualWindow window;
    std::unique_ptr<replay::Playback> playback;
    bool paused = false;
    bool fast = false;
};

struct Page {
    CanvasDisplay display;
    WebAudioSound sound;
    adapters::VirtualInput input;
    PageClock clock;
    PageFiles files;
    PageWindow window;
    replay::Recorder recorder;
    std::unique_ptr<kdv::Game> game;
    std::unique_ptr<Watching> watching;
    bool started = false;
    long ticks = 0;
    std::string text;             // the last string handed to page.js
    std::vector<uint8_t> buffer;  // the last bytes handed to page.js
};

Page& ThePage() {
    static Page page;
    return page;
}

const char* Text(std::string text) {
    ThePage().text = std::move(text);
    return ThePage().text.c_str();
}

std::string HashLine(const kdv::Game& game, long ticks) {
    char line[64];
    std::snprintf(line, sizeof line, "ticks=%ld hash=%016llx", ticks,
                  static_cast<unsigned long long>(runner::StateHash(game, ticks)));
    return line;
}

void SaveFinishedGames(bool closing) {
    Page& p = ThePage();
    if (!p.recorder.Begun()) return;
    auto keep = [&](const replay::Replay& game) {
        const std::vector<uint8_t> bytes = replay::Encode(game);
        PageCall("replay", replay::GameFileName(std::chrono::system_clock::now(), game.header),
                 bytes.data(), bytes.size());
    };
    if (auto finished = p.recorder.TakeFinishedGame()) keep(*finished);
    if (closing)
        if (auto running = p.recorder.GameInProgress()) keep(*running);
}

std::optional<replay::Replay> DecodeBytes(const uint8_t* data, int size, std::string& error) {
    replay::DecodeResult result = replay::Decode({data, size_t(size)});
    if (!result.replay) error = result.error;
    return std::move(result.replay);
}

// The settings kept in the browser; a failure is told, as the window tells one at close.
void SaveSettings() {
    Page& p = ThePage();
    try {
        kdv::SaveIni(*p.game);
    } catch (const std::exception& error) {
        p.window.ShowMessage(error.what());
    }
}

void StopWatching() {
    ThePage().watching.reset();
    PageCall("watching", "0");
}

}  // namespace
}  // namespace web

using web::ThePage;

extern "C" {

// A data file (or the player's settings) before the start.
EMSCRIPTEN_KEEPALIVE void kdv_add_file(const char* path, const uint8_t* data, int size) {
    ThePage().files.files[path] = std::vector<uint8_t>(data, data + size);
}

// Creates and starts the game; false when its data files were not all there.
EMSCRIPTEN_KEEPALIVE int kdv_start(int manualClock) {
    web::Page& p = ThePage();
    p.clock.manual = manualClock != 0;
    kdv::Services real{&p.display, &p.sound, &p.input, &p.clock, &p.files, &p.window};
    p.game = kdv::MakeGame(p.recorder.Wrap(real));
    kdv::FormCreate(*p.game);
    if (!kdv::FormActivate(*p.game)) return 0;
    p.recorder.Begin(*p.game, p.files);
    p.started = true;
    return 1;
}

// One tick of the frame timer; 1 when a new frame is to be drawn.
EMSCRIPTEN_KEEPALIVE int kdv_tick() {
    web::Page& p = ThePage();
    if (!p.started || p.window.failed) return 0;
    if (p.watching) {
        web::Watching& w = *p.watching;
        if (!w.paused)
            for (int i = 0; i < (w.fast ? 4 : 1); ++i)
                if (!w.playback->Step() || w.window.failed || w.window.closeRequested) {
                    web::StopWatching();
                    break;
                }
    } else if (p.window.timerEnabled) {
        p.recorder.BeforeTick(*p.game);
        kdv::DXTimerTimer(*p.game);
        p.recorder.AfterTick(*p.game);
        web::SaveFinishedGames(false);
        ++p.ticks;
        if (p.clock.manual) p.clock.now += kdv::kTimerInterval;
    }
    const bool presented = p.display.presented;
    p.display.presented = false;
    return presented;
}

EMSCRIPTEN_KEEPALIVE const uint8_t* kdv_frame() {
    return ThePage().display.Pixels();
}

// The rectangles of the frame changed since the canvas was last drawn: a count, then left, top,
// width and height of each.
EMSCRIPTEN_KEEPALIVE const int32_t* kdv_changes() {
    return ThePage().display.TakeChanges();
}

// A key went down or up in the page (a Windows virtual-key code). While a replay is watched it
// steers the viewer only.
EMSCRIPTEN_KEEPALIVE void kdv_key(int code, int down, int alt) {
    web::Page& p = ThePage();
    if (p.watching) {
        if (!down) return;
        if (code == 27) web::StopWatching();
        if (code == 'P') p.watching->paused = !p.watching->paused;
        if (code == 'F') p.watching->fast = !p.watching->fast;
        return;
    }
    p.input.SetKey(code, down != 0);
    if (!down || !p.started) return;
    p.recorder.KeyDown(*p.game, code);
    kdv::FormKeyDown(*p.game, code, alt != 0 || p.input.LiveKey(18));
    p.recorder.AfterAction(*p.game);
}

EMSCRIPTEN_KEEPALIVE void kdv_release_keys() {
    for (int code = 0; code < 256; ++code) ThePage().input.SetKey(code, false);
}

EMSCRIPTEN_KEEPALIVE void kdv_joy(int state, int on) {
    ThePage().input.SetJoyState(state, on != 0);
}

// A menu item by its component name; false when there is none.
EMSCRIPTEN_KEEPALIVE int kdv_menu(const char* name) {
    web::Page& p = ThePage();
    if (!p.started) return 0;
    if (p.watching) web::StopWatching();
    p.recorder.MenuItem(*p.game, name);
    const bool known = kdv::ClickMenu(*p.game, name);
    p.recorder.AfterAction(*p.game);
    web::SaveFinishedGames(false);
    return known;
}

// The settings file as it stands now (the page keeps it); the game writes it itself.
EMSCRIPTEN_KEEPALIVE void kdv_save_settings() {
    web::Page& p = ThePage();
    if (!p.started) return;
    web::SaveSettings();
    web::SaveFinishedGames(true);
}

// --- The options dialog ------------------------------------------------------------------

// The working copy as "key value" lines, in the names of the settings file.
EMSCRIPTEN_KEEPALIVE const char* kdv_options(int show) {
    web::Page& p = ThePage();
    if (!p.started) return "";
    if (show) kdv::OptionFormShow(*p.game);
    const kdv::Settings& s = p.game->OptionsEdit.working;
    std::string out =
        "Options/SoundEnable " + std::to_string(s.soundEnable) + "\nOptions/SoundVolume " +
        std::to_string(5 * kdv::SoundBarPosition(s.soundVolume)) + "\nOptions/GameDifficulty " +
        std::to_string(kdv::GameDiffBarPosition(s.gameDifficulty)) + "\nOptions/ForceFeedback " +
        std::to_string(s.forceFeedback) + "\n";
    const std::pair<const char*, const kdv::BindingRow*> rows[] = {
        {"KeysForPlayer1", &s.keys1},
        {"JoystickForPlayer1", &s.joystick1},
        {"KeysForPlayer2", &s.keys2},
        {"JoystickForPlayer2", &s.joystick2}};
    for (const auto& [name, row] : rows)
        for (int action = 0; action < kdv::kActions; ++action)
            out += std::string(name) + "/" + kdv::kActionKeys[action] + " " +
                   std::to_string((*row)[size_t(action)]) + "\n";
    return web::Text(out);
}

// One control of the dialog changed ("Section/Key", value); the error text, or "".
EMSCRIPTEN_KEEPALIVE const char* kdv_option_set(const char* key, int value) {
    web::Page& p = ThePage();
    if (!p.started) return "";
    auto error = kdv::SetOptionByKey(*p.game, key, value);
    return web::Text(error ? *error : "");
}

// "ok", "cancel" or "defaults".
EMSCRIPTEN_KEEPALIVE void kdv_option_button(const char* button) {
    web::Page& p = ThePage();
    if (!p.started) return;
    const std::string b = button;
    if (b == "ok") {
        p.recorder.BeforeAction(*p.game);
        kdv::OptionOkClick(*p.game);
        p.recorder.OptionsAccepted(*p.game);
        p.input.SetForceFeedback(p.game->Settings.forceFeedback);
        web::SaveSettings();
    } else if (b == "cancel") {
        kdv::OptionCancelClick(*p.game);
    } else if (b == "defaults") {
        kdv::DefaultsClick(*p.game);
    }
}

// A binding button's caption: a key name, or a joystick state's.
EMSCRIPTEN_KEEPALIVE const char* kdv_key_name(int code, int joystick) {
    return web::Text(joystick ? kdv::JoystickName(code) : kdv::KeyName(code));
}

// The capture dialog's answers: the key of 256 flags of keys that were down, or the lowest
// joystick state on now (kNoJoystickState when none).
EMSCRIPTEN_KEEPALIVE int kdv_capture_key(const uint8_t* down) {
    std::array<bool, 256> keys{};
    for (size_t i = 0; i < keys.size(); ++i) keys[i] = down[i] != 0;
    return kdv::CaptureKey(keys);
}

EMSCRIPTEN_KEEPALIVE int kdv_scan_joystick() {
    web::Page& p = ThePage();
    return p.game ? kdv::ScanJoystick(*p.game) : kdv::kNoJoystickState;
}

// --- The level selection dialog ----------------------------------------------------------

// "minimum maximum position gameItem okEnabled"
EMSCRIPTEN_KEEPALIVE const char* kdv_select_show() {
    web::Page& p = ThePage();
    if (!p.started) return "";
    const kdv::SelectLevelView v = kdv::SelectFormShow(*p.game);
    return web::Text(std::to_string(v.minimum) + " " + std::to_string(v.maximum) + " " +
                     std::to_string(v.position) + " " + std::to_string(v.gameItem) + " " +
                     std::to_string(v.okEnabled));
}

// Ok: the error text, or "" when the game has started.
EMSCRIPTEN_KEEPALIVE const char* kdv_select_ok(int stage, int gameItem) {
    web::Page& p = ThePage();
    if (!p.started) return "";
    if (p.watching) web::StopWatching();
    p.game->SelectLevel.gameItem = gameItem;
    p.recorder.BeforeAction(*p.game);
    if (auto error = kdv::SelectOkClick(*p.game, stage, gameItem)) return web::Text(*error);
    p.recorder.LevelSelected(*p.game, stage, gameItem);
    web::SaveFinishedGames(false);
    return "";
}

// --- Captions ----------------------------------------------------------------------------

EMSCRIPTEN_KEEPALIVE const char* kdv_caption(const char* name, int language, int occurrence) {
    auto caption = app::CaptionFor(name, language, occurrence);
    return web::Text(caption ? *caption : "");
}

EMSCRIPTEN_KEEPALIVE const char* kdv_ui_text(const char* english, int language) {
    return web::Text(app::UiText(english, language));
}

EMSCRIPTEN_KEEPALIVE const char* kdv_message_text(const char* english, int language) {
    return web::Text(app::MessageText(english, language));
}

EMSCRIPTEN_KEEPALIVE int kdv_language() {
    web::Page& p = ThePage();
    return p.game ? p.game->Settings.language : 0;
}

// "gameState paused watching watchPaused watchFast"
EMSCRIPTEN_KEEPALIVE const char* kdv_status() {
    web::Page& p = ThePage();
    if (!p.game) return "";
    const web::Watching* w = p.watching.get();
    return web::Text(std::to_string(p.game->GameState) + " " + std::to_string(p.game->Paused) +
                     " " + std::to_string(w != nullptr) + " " + std::to_string(w && w->paused) +
                     " " + std::to_string(w && w->fast));
}

// --- Replays -----------------------------------------------------------------------------

// The whole session so far as a replay file; kdv_bytes_size tells its length.
EMSCRIPTEN_KEEPALIVE const uint8_t* kdv_session_replay() {
    web::Page& p = ThePage();
    p.buffer = replay::Encode(p.recorder.Whole());
    return p.buffer.data();
}

EMSCRIPTEN_KEEPALIVE int kdv_bytes_size() {
    return int(ThePage().buffer.size());
}

// The state of the player's game, as the desktop's --verify prints it.
EMSCRIPTEN_KEEPALIVE const char* kdv_hash() {
    web::Page& p = ThePage();
    return web::Text(p.game ? web::HashLine(*p.game, p.ticks) : "");
}

// Plays a replay to its end without showing it: "ticks=N hash=H", or "error: ...".
EMSCRIPTEN_KEEPALIVE const char* kdv_verify(const uint8_t* data, int size) {
    web::Page& p = ThePage();
    std::string error;
    auto replay = web::DecodeBytes(data, size, error);
    if (!replay) return web::Text("error: " + error);
    if (auto refusal = replay::CheckReplay(*replay, p.files))
        return web::Text("error: " + *refusal);
    adapters::VirtualWindow window;
    kdv::Services outer;
    outer.window = &window;
    p.files.keep = false;
    replay::Playback playback(std::move(*replay), p.files, outer);
    std::string result;
    if (!playback.Start()) {
        result = "error: the replay could not be started";
    } else {
        while (!window.closeRequested && playback.Step())
            if (window.failed) break;
        if (!window.failed && playback.TicksRun() == int64_t(playback.Data().header.ticks))
            playback.Finish();
        if (window.failed)
            result = "error: " + window.failure;
        else if (playback.PartedAt())
            result = "error: " + playback.PartedMessage();
        else
            result = web::HashLine(playback.Game(), long(playback.TicksRun()));
    }
    p.files.keep = true;
    return web::Text(result);
}

// Starts watching a replay on the page's canvas and speakers; "" or the reason it cannot.
EMSCRIPTEN_KEEPALIVE const char* kdv_watch(const uint8_t* data, int size) {
    web::Page& p = ThePage();
    if (!p.started) return "";
    std::string error;
    auto replay = web::DecodeBytes(data, size, error);
    if (!replay) return web::Text(error);
    if (auto refusal = replay::CheckReplay(*replay, p.files)) return web::Text(*refusal);
    auto watch = std::make_unique<web::Watching>();
    kdv::Services outer;
    outer.display = &p.display;
    outer.sound = p.game->Settings.soundEnable && !p.game->SoundUnavailable ? &p.sound : nullptr;
    outer.window = &watch->window;
    watch->playback = std::make_unique<replay::Playback>(std::move(*replay), p.files, outer);
    replay::Playback& playback = *watch->playback;
    // The replayed game's start-up is not shown: its first tick is.
    playback.Show(false);
    p.files.keep = false;
    const bool started = playback.Start();
    p.files.keep = true;
    if (!started) return web::Text("the replay could not be started");
    playback.Show(true);
    kdv_release_keys();
    p.watching = std::move(watch);
    web::PageCall("watching", "1");
    return "";
}

// "mode stage ticks score1 score2" of a kept game, for the replay list; "" when it cannot be read.
EMSCRIPTEN_KEEPALIVE const char* kdv_replay_info(const uint8_t* data, int size) {
    std::string error;
    auto replay = web::DecodeBytes(data, size, error);
    if (!replay) return "";
    const replay::Header& h = replay->header;
    return web::Text(std::to_string(h.mode) + " " + std::to_string(h.stage) + " " +
                     std::to_string(h.ticks) + " " + std::to_string(h.scores[0]) + " " +
                     std::to_string(h.scores[1]));
}

// The version and the build it names, as the window's About shows them: replays need the same
// build.
EMSCRIPTEN_KEEPALIVE const char* kdv_version() {
    return web::Text(std::string(KORDAVEL_VERSION) + " (build " + replay::BuildIdentity() + ")");
}

// Whether a player has made the key a game key (F10 then is that key, not the menu's).
EMSCRIPTEN_KEEPALIVE int kdv_key_bound(int code) {
    web::Page& p = ThePage();
    return p.game && kdv::KeyIsBound(p.game->Settings, code);
}

EMSCRIPTEN_KEEPALIVE void kdv_watch_stop() {
    if (ThePage().watching) web::StopWatching();
}

}  // extern "C"
