// The game in the page: page.js calls these between animation frames. The player's game runs
// on the page's devices (LocalGame); a replay is watched on a game of its own (ReplayViewer)
// while the player's waits, or checked unseen, so the player's game is left as it was.
#include <emscripten.h>

#include <array>
#include <memory>
#include <string>

#include "core/controls/player_controls.h"
#include "core/controls/settings.h"
#include "core/dialogs/dialogs.h"
#include "core/game.h"
#include "ui/captions.h"
#include "web/local_game.h"
#include "web/replay_viewer.h"
#include "web/web_devices.h"

namespace web {
namespace {

struct Page {
    CanvasDisplay display;
    WebAudioSound sound;
    adapters::VirtualInput input;
    PageClock clock;
    PageFiles files;
    PageWindow window;
    LocalGame local{window, clock};
    std::unique_ptr<ReplayViewer> viewer;
    std::string text;             // the last string handed to page.js
    std::vector<uint8_t> buffer;  // the last bytes handed to page.js

    PlaySession& Current() {
        if (viewer) return *viewer;
        return local;
    }
};

Page& ThePage() {
    static Page page;
    return page;
}

const char* Text(std::string text) {
    ThePage().text = std::move(text);
    return ThePage().text.c_str();
}

void StopWatching() {
    ThePage().viewer.reset();
    PageCall("watching", "0");
}

// A viewer that has ended gives the picture back to the player's game.
void FollowSession() {
    if (ThePage().viewer && ThePage().viewer->Ended()) StopWatching();
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
    return p.local.Start(real);
}

// One tick of the frame timer; 1 when a new frame is to be drawn.
EMSCRIPTEN_KEEPALIVE int kdv_tick() {
    web::Page& p = ThePage();
    if (!p.local.Started() || p.window.failed) return 0;
    p.Current().Tick();
    web::FollowSession();
    const bool presented = p.display.presented;
    p.display.presented = false;
    return presented;
}

EMSCRIPTEN_KEEPALIVE const uint8_t* kdv_frame() {
    return ThePage().display.Pixels();
}

// A key went down or up in the page (a Windows virtual-key code). While a replay is watched it
// steers the viewer only.
EMSCRIPTEN_KEEPALIVE void kdv_key(int code, int down, int alt) {
    web::Page& p = ThePage();
    web::PlaySession& session = p.Current();
    if (session.KeysToDevices()) p.input.SetKey(code, down != 0);
    if (!down || !p.local.Started()) return;
    session.KeyDown(code, alt != 0 || p.input.LiveKey(18));
    web::FollowSession();
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
    if (!p.local.Started()) return 0;
    if (p.viewer) web::StopWatching();
    return p.local.Menu(name);
}

// The settings file as it stands now (the page keeps it); the game writes it itself.
EMSCRIPTEN_KEEPALIVE void kdv_save_settings() {
    web::Page& p = ThePage();
    if (p.local.Started()) p.local.SaveSettings();
}

// --- The options dialog ------------------------------------------------------------------

// The working copy as "key value" lines, in the names of the settings file.
EMSCRIPTEN_KEEPALIVE const char* kdv_options(int show) {
    web::Page& p = ThePage();
    if (!p.local.Started()) return "";
    if (show) kdv::OptionFormShow(p.local.Game());
    const kdv::Settings& s = p.local.Game().OptionsEdit.working;
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
    if (!p.local.Started()) return "";
    auto error = kdv::SetOptionByKey(p.local.Game(), key, value);
    return web::Text(error ? *error : "");
}

// "ok", "cancel" or "defaults".
EMSCRIPTEN_KEEPALIVE void kdv_option_button(const char* button) {
    web::Page& p = ThePage();
    if (!p.local.Started()) return;
    const std::string b = button;
    if (b == "ok")
        p.local.OptionsOk();
    else if (b == "cancel")
        kdv::OptionCancelClick(p.local.Game());
    else if (b == "defaults")
        kdv::DefaultsClick(p.local.Game());
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
    return p.local.HasGame() ? kdv::ScanJoystick(p.local.Game()) : kdv::kNoJoystickState;
}

// --- The level selection dialog ----------------------------------------------------------

// "minimum maximum position gameItem okEnabled"
EMSCRIPTEN_KEEPALIVE const char* kdv_select_show() {
    web::Page& p = ThePage();
    if (!p.local.Started()) return "";
    const kdv::SelectLevelView v = kdv::SelectFormShow(p.local.Game());
    return web::Text(std::to_string(v.minimum) + " " + std::to_string(v.maximum) + " " +
                     std::to_string(v.position) + " " + std::to_string(v.gameItem) + " " +
                     std::to_string(v.okEnabled));
}

// Ok: the error text, or "" when the game has started.
EMSCRIPTEN_KEEPALIVE const char* kdv_select_ok(int stage, int gameItem) {
    web::Page& p = ThePage();
    if (!p.local.Started()) return "";
    if (p.viewer) web::StopWatching();
    auto error = p.local.SelectOk(stage, gameItem);
    return error ? web::Text(*error) : "";
}

// --- Captions ----------------------------------------------------------------------------

EMSCRIPTEN_KEEPALIVE const char* kdv_caption(const char* name, int language, int occurrence) {
    auto caption = ui::CaptionFor(name, language, occurrence);
    return web::Text(caption ? *caption : "");
}

EMSCRIPTEN_KEEPALIVE const char* kdv_ui_text(const char* english, int language) {
    return web::Text(ui::UiText(english, language));
}

EMSCRIPTEN_KEEPALIVE const char* kdv_message_text(const char* english, int language) {
    return web::Text(ui::MessageText(english, language));
}

EMSCRIPTEN_KEEPALIVE int kdv_language() {
    web::Page& p = ThePage();
    return p.local.HasGame() ? p.local.Game().Settings.language : 0;
}

// "gameState paused watching watchPaused watchFast"
EMSCRIPTEN_KEEPALIVE const char* kdv_status() {
    web::Page& p = ThePage();
    if (!p.local.HasGame()) return "";
    const kdv::Game& game = p.local.Game();
    const web::ReplayViewer* v = p.viewer.get();
    return web::Text(std::to_string(game.GameState) + " " + std::to_string(game.Paused) + " " +
                     std::to_string(v != nullptr) + " " + std::to_string(v && v->Paused()) + " " +
                     std::to_string(v && v->Fast()));
}

// --- Replays -----------------------------------------------------------------------------

// The whole session so far as a replay file; kdv_bytes_size tells its length.
EMSCRIPTEN_KEEPALIVE const uint8_t* kdv_session_replay() {
    web::Page& p = ThePage();
    p.buffer = p.local.SessionReplay();
    return p.buffer.data();
}

EMSCRIPTEN_KEEPALIVE int kdv_bytes_size() {
    return int(ThePage().buffer.size());
}

// The state of the player's game, as the desktop's --verify prints it.
EMSCRIPTEN_KEEPALIVE const char* kdv_hash() {
    return web::Text(ThePage().local.HashLine());
}

// Plays a replay to its end without showing it: "ticks=N hash=H", or "error: ...".
EMSCRIPTEN_KEEPALIVE const char* kdv_verify(const uint8_t* data, int size) {
    return web::Text(web::VerifyReplay({data, size_t(size)}, ThePage().files));
}

// Starts watching a replay on the page's canvas and speakers; "" or the reason it cannot.
EMSCRIPTEN_KEEPALIVE const char* kdv_watch(const uint8_t* data, int size) {
    web::Page& p = ThePage();
    if (!p.local.Started()) return "";
    std::string error;
    auto viewer = web::ReplayViewer::Open({data, size_t(size)}, p.local.Game(), p.files, p.display,
                                          p.sound, error);
    if (!viewer) return web::Text(error);
    kdv_release_keys();
    p.viewer = std::move(viewer);
    web::PageCall("watching", "1");
    return "";
}

EMSCRIPTEN_KEEPALIVE void kdv_watch_stop() {
    if (ThePage().viewer) web::StopWatching();
}

}  // extern "C"
