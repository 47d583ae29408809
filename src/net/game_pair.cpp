#include "net/game_pair.h"

#include <algorithm>

#include "adapters/virtual_devices.h"
#include "core/controls/settings.h"
#include "core/dialogs/dialogs.h"
#include "core/flow/game_flow.h"
#include "core/flow/game_state.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "core/screen/graphics_pack.h"
#include "net/shown_game.h"
#include "recording/recorded_game.h"
#include "replay/mask_input.h"

namespace net {
namespace {

// The host's input goes to player 1's binding slots, the joiner's to player 2's.
uint32_t MaskOf(TickInputs inputs) {
    return uint32_t(inputs.host) | uint32_t(inputs.joiner) << kPlayerBits;
}

}  // namespace

// The confirmed game shows nothing, but draws as a shown game does: its picture is the one
// recorded, compared and dumped.
class GamePair::Screen : public kdv::Display {
  public:
    bool CanDraw() const override { return true; }
    void Present(const kdv::WorkBitmap&) override {}
    bool WantsPixels() const override { return false; }
};

GamePair::GamePair() = default;
GamePair::~GamePair() = default;

std::optional<std::string> GamePair::Start(const GameSetup& setup) {
    hash_ = setup.hash;
    files_ = std::make_unique<HostFiles>(*setup.disk, setup.settings, setup.levels,
                                         "during a network game");
    maskInput_ = std::make_unique<replay::MaskInput>();
    tickClock_ = std::make_unique<TickClock>();
    screen_ = std::make_unique<Screen>();
    sound_ = std::make_unique<HostGameSound>(setup.sound);
    auto window = std::make_unique<adapters::VirtualWindow>();
    adapters::VirtualWindow& virtualWindow = *window;
    window_ = std::move(window);
    recorder_ = std::make_unique<recording::RecordedGame>(recording::Keep::GamesAndRun);
    kdv::Services services{screen_.get(),    sound_.get(), maskInput_.get(),
                           tickClock_.get(), files_.get(), window_.get()};
    game_ = recorder_->Make(services);
    maskInput_->settings = &game_->Settings;
    kdv::FormCreate(*game_);
    if (!kdv::FormActivate(*game_))
        return virtualWindow.messages.empty() ? "The game's data files cannot be read."
                                              : virtualWindow.messages.front();
    if (setup.stage < 1 || setup.stage > game_->LevelCount)
        return "Stage " + std::to_string(setup.stage) + " is not in the level file.";
    recorder_->Begin();
    const int gameItem = setup.mode == kdv::gmDuel ? 2 : 1;
    if (auto error = recorder_->SelectOk(setup.stage, gameItem)) return *error;
    sound_->heard = false;
    shown_ =
        std::make_unique<ShownGame>(*files_, setup.display, setup.sound, setup.input, setup.jolts);
    shown_->TakeState(*game_, maskInput_->mask);
    return std::nullopt;
}

std::optional<std::string> GamePair::Resume(const GameSetup& setup, int64_t tick,
                                            const MidGame& at) {
    if (auto error = Start(setup)) return error;
    if (auto why = TakeMidGame(at, *game_)) return "The host's game could not be taken up: " + *why;
    maskInput_->mask = at.mask;
    tickClock_->now = uint32_t(tick * kdv::kTimerInterval);
    recorder_->StartFrom(tick, at.mask, tickClock_->now);
    shown_->TakeState(*game_, at.mask);
    shown_->Confirmed(tick + 1);
    return std::nullopt;
}

MidGame GamePair::Standing() const {
    return MidGameOf(*game_, maskInput_->mask);
}

void GamePair::Save(int64_t tick, TickInputs inputs) {
    maskInput_->mask = MaskOf(inputs);
    tickClock_->now = uint32_t(tick * kdv::kTimerInterval);
    recorder_->Tick();
    // The shown game never runs this tick again.
    shown_->Confirmed(tick + 1);
}

void GamePair::Load() {
    shown_->TakeState(*game_, maskInput_->mask);
}

void GamePair::Advance(int64_t tick, TickInputs inputs, bool quiet) {
    shown_->Run(tick, MaskOf(inputs), quiet);
}

uint64_t GamePair::Checksum(int64_t tick, bool ahead) {
    if (!hash_) return 0;
    return hash_(ahead ? shown_->Game() : *game_, long(tick));
}

std::optional<std::string> GamePair::Failure() const {
    if (!window_) return std::nullopt;
    const auto& window = static_cast<const adapters::VirtualWindow&>(*window_);
    if (!window.failed) return std::nullopt;
    return window.failure;
}

const kdv::Game* GamePair::Shown() const {
    return shown_ ? &shown_->Game() : nullptr;
}

uint32_t GamePair::ConfirmedMask() const {
    return maskInput_ ? maskInput_->mask : 0;
}

std::optional<replay::Replay> GamePair::Recording() const {
    if (!recorder_ || !recorder_->Begun()) return std::nullopt;
    return recorder_->Whole();
}

}  // namespace net
