#include "app/qt/local_game.h"

#include <chrono>
#include <iostream>

#include "app/runner/command_line.h"
#include "app/sdl/sdl_input.h"
#include "core/flow/game_flow.h"
#include "core/flow/game_state.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "recording/recorded_game.h"
#include "replay/format.h"
#include "replay/library.h"
#include "replay/playback.h"

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

void LocalGame::Attach(recording::RecordedGame& game, runner::ScriptPlayer* script,
                       std::optional<long> ticks) {
    recorded_ = &game;
    game_ = &game.Game();
    script_ = script;
    tickLimit_ = ticks;
    recorded_->onGameEnded = [this](const replay::Replay& ended) { Save(ended); };
}

void LocalGame::KeepReplays(std::filesystem::path folder, std::string recordFile) {
    replayFolder_ = std::move(folder);
    recordFile_ = std::move(recordFile);
}

void LocalGame::Started() {
    recorded_->Begin();
    if (tickLimit_ && *tickLimit_ <= 0) host_.CloseWindow();
}

void LocalGame::Tick() {
    const long tick = ticksRun_ + 1;
    if (script_) {
        try {
            script_->ApplyInputs(tick, *recorded_, *scriptKeys_);
        } catch (const runner::ScriptError& error) {
            // A command the game refused (a stage past the last): the script is wrong.
            std::cerr << "kordavel: " << error.what() << "\n";
            host_.NoteExitCode(runner::kExitUsage);
            host_.CloseWindow();
            return;
        }
    }
    recorded_->Tick();
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
    recorded_->KeyDown(code, alt);
}

void LocalGame::MenuItem(const std::string& item) {
    recorded_->Menu(item);
}

// Recorded as a step of its own, so that the replays of this session play it too.
void LocalGame::BackToTitle() {
    if (recorded_) recorded_->Menu(replay::kBackToTitle);
}

bool LocalGame::InGame() const {
    return game_ && kdv::InGame(*game_);
}

void LocalGame::Close() {
    if (!game_) return;
    if (recorded_->Begun()) {
        if (auto running = recorded_->GameInProgress()) Save(*running);
        std::string error;
        if (!recordFile_.empty() && !replay::SaveReplay(recordFile_, recorded_->Whole(), error)) {
            std::cerr << "kordavel: " << error << "\n";
            host_.NoteExitCode(runner::kExitStartup);
        }
    }
    kdv::FormClose(*game_);
}

void LocalGame::Save(const replay::Replay& game) {
    std::string error;
    if (!replay::SaveGame(replayFolder_, game, std::chrono::system_clock::now(), error).empty())
        return;
    // Told as a failed save of the settings or a level is; the run does not end as a success.
    ++game_->FailedSaves;
    game_->io.window->ShowMessage("The replay was not saved: " + error);
}

}  // namespace app
