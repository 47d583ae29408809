#include "recording/recorded_game.h"

#include "core/dialogs/dialogs.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "replay/playback.h"
#include "replay/recorder.h"

namespace recording {

RecordedGame::RecordedGame(Keep keep) {
    if (keep != Keep::Nothing)
        recorder_ = std::make_unique<replay::Recorder>(keep == Keep::GamesAndRun);
}

RecordedGame::RecordedGame(kdv::Game& game) : game_(&game) {}

RecordedGame::~RecordedGame() = default;

std::unique_ptr<kdv::Game> RecordedGame::Make(const kdv::Services& real) {
    auto game = kdv::MakeGame(recorder_ ? recorder_->Wrap(real) : real);
    game_ = game.get();
    return game;
}

void RecordedGame::Begin() {
    if (recorder_) recorder_->Begin(*game_, *game_->io.files);
}

void RecordedGame::StartFrom(int64_t ticksBefore, std::optional<uint32_t> mask,
                             std::optional<uint32_t> clock) {
    if (recorder_) recorder_->StartFrom(*game_, ticksBefore, mask, clock);
}

bool RecordedGame::Begun() const {
    return recorder_ && recorder_->Begun();
}

void RecordedGame::Tick() {
    if (recorder_) recorder_->BeforeTick(*game_);
    kdv::DXTimerTimer(*game_);
    if (!recorder_) return;
    recorder_->AfterTick(*game_);
    PassEndedGame();
}

void RecordedGame::KeyDown(int code, bool alt) {
    // A key changes no game state the recorder follows: it needs no word after it.
    if (recorder_) recorder_->KeyDown(*game_, code);
    kdv::FormKeyDown(*game_, code, alt);
}

bool RecordedGame::Menu(std::string_view item) {
    if (recorder_) recorder_->MenuItem(*game_, item);
    const bool known = replay::RunMenuItem(*game_, item);
    if (!recorder_) return known;
    recorder_->AfterAction(*game_);
    PassEndedGame();
    return known;
}

std::optional<std::string> RecordedGame::SelectOk(int stage, int gameItem) {
    // The dialog's choice is part of what it holds, recorded before the Ok like its other
    // contents; only the three games can be chosen in it.
    if (gameItem >= 0 && gameItem <= 2) game_->SelectLevel.gameItem = gameItem;
    if (recorder_) recorder_->BeforeAction(*game_);
    if (auto error = kdv::SelectOkClick(*game_, stage, gameItem)) return error;
    if (!recorder_) return std::nullopt;
    recorder_->LevelSelected(*game_, stage, gameItem);
    PassEndedGame();
    return std::nullopt;
}

void RecordedGame::OptionsOk() {
    if (recorder_) recorder_->BeforeAction(*game_);
    kdv::OptionOkClick(*game_);
    if (recorder_) recorder_->OptionsAccepted(*game_);
    // The force feedback chosen is felt at once, not only after the dialog has closed.
    if (game_->io.input) game_->io.input->SetForceFeedback(game_->Settings.forceFeedback);
}

void RecordedGame::PassEndedGame() {
    auto ended = recorder_->TakeFinishedGame();
    if (ended && onGameEnded) onGameEnded(*ended);
}

std::optional<replay::Replay> RecordedGame::GameInProgress() const {
    return recorder_ ? recorder_->GameInProgress() : std::nullopt;
}

replay::Replay RecordedGame::Whole() const {
    return recorder_ ? recorder_->Whole() : replay::Replay{};
}

int64_t RecordedGame::Ticks() const {
    return recorder_ ? recorder_->Ticks() : 0;
}

size_t RecordedGame::StreamBytes() const {
    return recorder_ ? recorder_->StreamBytes() : 0;
}

void RecordedGame::SetWallClock(std::function<int64_t()> clock) {
    if (recorder_) recorder_->wallClock = std::move(clock);
}

}  // namespace recording
