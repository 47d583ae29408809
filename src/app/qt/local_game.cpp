#include "app/qt/local_game.h"

#include <chrono>
#include <iostream>

#include "app/runner/command_line.h"
#include "app/sdl/sdl_input.h"
#include "core/flow/game_flow.h"
#include "core/flow/game_state.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "replay/format.h"
#include "replay/library.h"
#include "replay/playback.h"
#include "replay/recorder.h"

namespace app {

// A script's keys and joystick states go where the devices' would.
class LocalGame::ScriptKeys : public runner::InputSink {
  public:
    explicit ScriptKeys(SdlInput& input) : input_(input) {}
    void SetKey(int code, bool down) override {
        if (down)
            input_.Keys().Press(code);
        else
            input_.Keys().Release(code);
    }
    void SetJoyState(int state, bool on) override { input_.SetScriptJoyState(state, on); }
    bool KeyHeld(int code) const override { return input_.Keys().Live(code); }

  private:
    SdlInput& input_;
};

LocalGame::LocalGame(SessionHost& host, SdlInput& input)
    : host_(host), scriptKeys_(std::make_unique<ScriptKeys>(input)) {}

LocalGame::~LocalGame() = default;

void LocalGame::Attach(kdv::Game& game, runner::ScriptPlayer* script, std::optional<long> ticks) {
    game_ = &game;
    script_ = script;
    tickLimit_ = ticks;
}

void LocalGame::AttachRecorder(replay::Recorder& recorder, std::filesystem::path folder,
                               std::string recordFile) {
    recorder_ = &recorder;
    replayFolder_ = std::move(folder);
    recordFile_ = std::move(recordFile);
}

void LocalGame::Started() {
    if (recorder_) recorder_->Begin(*game_, *game_->io.files);
    if (tickLimit_ && *tickLimit_ <= 0) host_.CloseWindow();
}

void LocalGame::Tick() {
    const long tick = ticksRun_ + 1;
    if (script_) {
        try {
            script_->ApplyInputs(tick, *game_, *scriptKeys_);
        } catch (const runner::ScriptError& error) {
            // A command the game refused (a stage past the last): the script is wrong.
            std::cerr << "kordavel: " << error.what() << "\n";
            host_.NoteExitCode(runner::kExitUsage);
            host_.CloseWindow();
            return;
        }
    }
    if (recorder_) recorder_->BeforeTick(*game_);
    kdv::DXTimerTimer(*game_);
    if (recorder_) recorder_->AfterTick(*game_);
    SaveFinishedGames(false);
    ticksRun_ = tick;
    if (host_.Closing()) return;  // the game closed the window: its outputs are not taken
    if (script_) {
        try {
            script_->ApplyOutputs(tick, *game_, ticksRun_);
        } catch (const std::exception& error) {
            std::cerr << "kordavel: " << error.what() << "\n";
            host_.NoteExitCode(runner::kExitStartup);
            host_.CloseWindow();
            return;
        }
    }
    if (tickLimit_ && ticksRun_ >= *tickLimit_) host_.CloseWindow();
}

void LocalGame::KeyDown(int code, bool alt) {
    if (recorder_) recorder_->KeyDown(*game_, code);
    kdv::FormKeyDown(*game_, code, alt);
}

void LocalGame::MenuItem(const std::string& item) {
    if (recorder_) recorder_->MenuItem(*game_, item);
    kdv::ClickMenu(*game_, item);
    if (recorder_) recorder_->AfterAction(*game_);
    SaveFinishedGames(false);
}

// Recorded as a step of its own, so that the replays of this session play it too.
void LocalGame::BackToTitle() {
    if (!game_) return;
    if (recorder_) recorder_->MenuItem(*game_, replay::kBackToTitle);
    kdv::BackToTitle(*game_);
    if (recorder_) recorder_->AfterAction(*game_);
    SaveFinishedGames(false);
}

bool LocalGame::InGame() const {
    return game_ && kdv::InGame(*game_);
}

void LocalGame::Close() {
    SaveFinishedGames(true);
    if (game_) kdv::FormClose(*game_);
}

void LocalGame::SaveFinishedGames(bool closing) {
    if (!recorder_ || !recorder_->Begun()) return;
    std::string error;
    auto save = [&](const replay::Replay& game) {
        if (!replay::SaveGame(replayFolder_, game, std::chrono::system_clock::now(), error).empty())
            return;
        // Told as a failed save of the settings or a level is; the run does not end as a success.
        ++game_->FailedSaves;
        game_->io.window->ShowMessage("The replay was not saved: " + error);
    };
    if (auto finished = recorder_->TakeFinishedGame()) save(*finished);
    if (!closing) return;
    if (auto running = recorder_->GameInProgress()) save(*running);
    if (!recordFile_.empty() && !replay::SaveReplay(recordFile_, recorder_->Whole(), error)) {
        std::cerr << "kordavel: " << error << "\n";
        host_.NoteExitCode(runner::kExitStartup);
    }
}

}  // namespace app
