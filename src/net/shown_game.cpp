#include "net/shown_game.h"

#include <algorithm>

#include "adapters/virtual_devices.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "replay/mask_input.h"

namespace net {

// The player's display, silenced for the frames of a correction but the last. The game draws
// the same either way: a silenced frame only skips the conversion, and the presenter compares
// the next shown one with the picture last converted.
class ShownGame::Screen : public kdv::Display {
  public:
    explicit Screen(kdv::Display* outer) : outer_(outer) {}
    bool CanDraw() const override { return true; }
    void Present(const kdv::WorkBitmap& bitmap) override {
        if (outer_ && outer_->CanDraw()) outer_->Present(bitmap);
    }
    bool TakesRuns() const override { return outer_ != nullptr && outer_->TakesRuns(); }
    void PresentRuns(const kdv::FrameChange& change) override {
        if (outer_ && outer_->CanDraw()) outer_->PresentRuns(change);
    }
    bool WantsPixels() const override { return outer_ != nullptr && !quiet; }
    bool quiet = false;
    kdv::PresentCache kept;  // the presenter's record of the picture, across a correction

  private:
    kdv::Display* outer_;
};

// What a tick played, kept until the tick is confirmed: a tick run again plays a sound or a
// jolt only when its earlier runs did not, as often as they did not.
class ShownGame::Effects : public kdv::SoundDevice {
  public:
    struct Effect {
        int64_t tick = 0;
        int kind = 0;  // 0 a sound (item, volume), 1 a jolt (its force)
        int a = 0, b = 0;
        bool heard = false;  // played by the run of its tick now going on, or an earlier one
    };
    explicit Effects(kdv::SoundDevice* outer) : outer_(outer) {}
    void Initialise() override {}
    void Finalise() override {}
    void LoadBank(std::vector<std::vector<uint8_t>>) override {}
    int Count() const override { return outer_ ? outer_->Count() : kdv::kSoundEffects; }
    void Play(int item, int volume, bool) override {
        if (Once({tick_, 0, item, volume}) && outer_) outer_->Play(item, volume, false);
    }

    void Begin(int64_t tick) {
        tick_ = tick;
        for (Effect& e : done_)
            if (e.tick == tick) e.heard = false;
    }
    // True when this effect of the current tick is new.
    bool Once(Effect e) {
        for (Effect& d : done_)
            if (!d.heard && d.tick == e.tick && d.kind == e.kind && d.a == e.a && d.b == e.b)
                return d.heard = true, false;
        e.heard = true;
        done_.push_back(e);
        return true;
    }
    void Forget(int64_t before) {
        std::erase_if(done_, [before](const Effect& e) { return e.tick < before; });
    }
    int64_t tick_ = 0;

  private:
    kdv::SoundDevice* outer_;
    std::vector<Effect> done_;
};

// The players' inputs as agreed or guessed; jolts go to this player's device once.
class ShownGame::Input : public replay::MaskInput {
  public:
    Input(Effects& effects, kdv::InputDevice* outer, bool on)
        : effects_(effects), outer_(on ? outer : nullptr) {}
    void PlayJolt(const kdv::JoltEffect& jolt) override {
        if (effects_.Once({effects_.tick_, 1, jolt.fx, jolt.fy}) && outer_) outer_->PlayJolt(jolt);
    }

  private:
    Effects& effects_;
    kdv::InputDevice* outer_;
};

class ShownGame::TickClock : public kdv::Clock {
  public:
    uint32_t TickCount() override { return now; }
    uint32_t now = 0;
};

ShownGame::ShownGame(kdv::FileSystem& files, kdv::Display* display, kdv::SoundDevice* sound,
                     kdv::InputDevice* input, bool joltsOn)
    : screen_(std::make_unique<Screen>(display)),
      effects_(std::make_unique<Effects>(sound)),
      input_(std::make_unique<Input>(*effects_, input, joltsOn)),
      clock_(std::make_unique<TickClock>()),
      window_(std::make_unique<adapters::VirtualWindow>()) {
    kdv::Services services{screen_.get(), effects_.get(), input_.get(),
                           clock_.get(),  &files,         window_.get()};
    game_ = kdv::MakeGame(services);
    input_->settings = &game_->Settings;
}

ShownGame::~ShownGame() = default;

void ShownGame::TakeState(const kdv::Game& confirmed, uint32_t mask) {
    kdv::Game& game = *game_;
    input_->mask = mask;
    // The confirmed game converts nothing: what is on screen is this game's.
    screen_->kept = game.presentCache;
    kdv::WorkBitmap bitmap = std::move(game.WorkBitmap);
    game.CopyStateFrom(confirmed);
    game.presentCache = screen_->kept;
    game.WorkBitmap = std::move(bitmap);
    // Any block may differ from what was shown last.
    game.FrameScreen.ShowAll();
}

void ShownGame::Run(int64_t tick, uint32_t mask, bool quiet) {
    input_->mask = mask;
    clock_->now = uint32_t(tick * kdv::kTimerInterval);
    screen_->quiet = quiet;
    effects_->Begin(tick);
    kdv::DXTimerTimer(*game_);
}

void ShownGame::Confirmed(int64_t before) {
    effects_->Forget(before);
}

}  // namespace net
