#include "web/local_game.h"

#include <chrono>

#include "core/flow/main_form.h"
#include "core/game.h"
#include "replay/format.h"
#include "replay/library.h"

namespace web {

namespace {

// Handed to page.js, which keeps the last games in the browser's storage.
void Keep(const replay::Replay& game) {
    const std::vector<uint8_t> bytes = replay::Encode(game);
    PageCall("replay", replay::GameFileName(std::chrono::system_clock::now(), game.header),
             bytes.data(), bytes.size());
}

}  // namespace

LocalGame::LocalGame(PageWindow& window, PageClock& clock) : window_(window), clock_(clock) {
    recorded_.onGameEnded = Keep;
}

LocalGame::~LocalGame() = default;

bool LocalGame::Start(const kdv::Services& real) {
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
    kdv::SaveIni(*game_);
}

void LocalGame::SaveSettings() {
    kdv::SaveIni(*game_);
    if (auto running = recorded_.GameInProgress()) Keep(*running);
}

std::vector<uint8_t> LocalGame::SessionReplay() const {
    return replay::Encode(recorded_.Whole());
}

std::string LocalGame::HashLine() const {
    return game_ ? web::HashLine(*game_, ticks_) : "";
}

}  // namespace web
