#include "web/local_game.h"

#include <chrono>
#include <utility>

#include "core/controls/settings.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "replay/format.h"
#include "replay/library.h"

namespace web {

LocalGame::LocalGame(PageWindow& window, PageClock& clock) : window_(window), clock_(clock) {
    recorded_.onGameEnded = [this](const replay::Replay& game) { Keep(game); };
    loadedAt_ = std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::system_clock::now().time_since_epoch())
                    .count();
}

LocalGame::~LocalGame() = default;

// Handed to page.js, which keeps the last games in the browser's storage; an ended game takes
// the place of the copy kept while it ran.
void LocalGame::Keep(const replay::Replay& game) {
    const std::vector<uint8_t> bytes = replay::Encode(game);
    PageCall("replay",
             replay::GameFileName(std::chrono::system_clock::now(), game.header) + "\n" +
                 std::exchange(keptRunning_, ""),
             bytes.data(), bytes.size());
}

bool LocalGame::Start(const kdv::Services& real) {
    files_ = real.files;
    game_ = recorded_.Make(real);
    kdv::FormCreate(*game_);
    if (!kdv::FormActivate(*game_)) return false;
    recorded_.Begin();
    started_ = true;
    return true;
}

void LocalGame::Tick() {
    if (!window_.timerEnabled) return;
    recorded_.Tick();
    ++ticks_;
    if (clock_.manual) clock_.now += kdv::kTimerInterval;
}

void LocalGame::KeyDown(int code, bool alt) {
    recorded_.KeyDown(code, alt);
}

bool LocalGame::Menu(const std::string& item) {
    return recorded_.Menu(item);
}

std::optional<std::string> LocalGame::SelectOk(int stage, int gameItem) {
    return recorded_.SelectOk(stage, gameItem);
}

void LocalGame::OptionsOk() {
    recorded_.OptionsOk();
    SaveSettings();
}

void LocalGame::SaveSettings() {
    try {
        kdv::SaveIni(*game_, *files_);
    } catch (const std::exception& error) {
        window_.ShowMessage(error.what());
    }
}

void LocalGame::KeepGameInProgress() {
    auto running = recorded_.GameInProgress();
    if (!running) return;
    if (keptRunning_.empty())
        keptRunning_ = std::to_string(loadedAt_) + "-" + std::to_string(++keptCount_);
    const std::string key = keptRunning_;
    Keep(*running);
    keptRunning_ = key;  // until the game ends
}

std::vector<uint8_t> LocalGame::SessionReplay() const {
    return replay::Encode(recorded_.Whole());
}

std::string LocalGame::HashLine() const {
    return game_ ? web::HashLine(*game_, ticks_) : "";
}

}  // namespace web
