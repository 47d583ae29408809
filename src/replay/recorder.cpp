#include "replay/recorder.h"

#include "core/flow/game_state.h"
#include "core/game.h"

namespace replay {
namespace {

bool InGame(const kdv::Game& game) {
    if (game.GameMode == kdv::gmDemo) return false;
    switch (game.GameState) {
        case kdv::gsPlay:
        case kdv::gsStageIntro:
        case kdv::gsTallyOnePlayer:
        case kdv::gsTallyTwoPlayers:
            return true;
        default:
            return false;
    }
}

bool IsMenuStart(std::string_view item) {
    return item == "MStart1Player" || item == "MStart2Player" || item == "MStartDuel";
}

}  // namespace

PlaySettings SettingsOf(const kdv::Game& game) {
    return {game.Settings, game.StarPeriod};
}

DialogState DialogsOf(const kdv::Game& game) {
    return {game.SelectLevel.position, game.SelectLevel.gameItem, game.OptionsEdit.open,
            game.OptionsEdit.working};
}

uint32_t BindingMask(const kdv::Settings& s, const kdv::InputDevice& device) {
    const kdv::BindingRow* rows[4] = {&s.keys1, &s.joystick1, &s.keys2, &s.joystick2};
    uint32_t mask = 0;
    for (int r = 0; r < 4; ++r) {
        const bool keyboard = r % 2 == 0;
        for (int a = 0; a < kdv::kActions; ++a) {
            const int32_t code = (*rows[r])[size_t(a)];
            bool on = false;
            if (keyboard)
                on = code >= 1 && code <= 123 && device.KeyDown(code);
            else
                on = (code & 0xFF) < kdv::kNoJoystickState && device.JoyStateOn(code & 0xFF);
            if (on) mask |= 1u << (r * kdv::kActions + a);
        }
    }
    return mask;
}

// The device as it is; at the input poll of each tick the states of the bindings are noted.
class Recorder::Input : public kdv::InputDevice {
  public:
    Input(Recorder& recorder, kdv::InputDevice* inner) : recorder_(recorder), inner_(inner) {}
    void Update() override;
    bool KeyDown(int code) const override { return inner_ && inner_->KeyDown(code); }
    bool JoyStateOn(int state) const override { return inner_ && inner_->JoyStateOn(state); }
    void SetForceFeedback(bool on) override {
        if (inner_) inner_->SetForceFeedback(on);
    }
    void PlayJolt(const kdv::JoltEffect& effect) override {
        if (inner_) inner_->PlayJolt(effect);
    }
    const kdv::Settings* settings = nullptr;  // armed for the next poll when set

  private:
    Recorder& recorder_;
    kdv::InputDevice* inner_;
};

// Whether the display can draw is taken once a tick, at the input poll, so that the game and
// its replay see the same answer all through the tick.
class Recorder::Display : public kdv::Display {
  public:
    explicit Display(kdv::Display* inner) : inner_(inner) {}
    bool CanDraw() const override { return canDraw; }
    void Present(const kdv::WorkBitmap& bitmap) override {
        if (inner_ && inner_->CanDraw()) inner_->Present(bitmap);
    }
    bool TakesRuns() const override { return inner_ != nullptr && inner_->TakesRuns(); }
    void PresentRuns(const kdv::FrameChange& change) override {
        if (inner_ && inner_->CanDraw()) inner_->PresentRuns(change);
    }
    bool Sample() { return canDraw = inner_ && inner_->CanDraw(); }
    bool canDraw = false;

  private:
    kdv::Display* inner_;
};

class Recorder::Clock : public kdv::Clock {
  public:
    Clock(Recorder& recorder, kdv::Clock* inner) : recorder_(recorder), inner_(inner) {}
    uint32_t TickCount() override {
        const uint32_t now = inner_ ? inner_->TickCount() : 0;
        recorder_.ReadClock(now);
        return now;
    }

  private:
    Recorder& recorder_;
    kdv::Clock* inner_;
};

void Recorder::Input::Update() {
    if (inner_) inner_->Update();
    if (!settings) return;
    uint32_t mask = inner_ ? BindingMask(*settings, *inner_) : 0;
    if (!recorder_.display_->Sample()) mask |= kCannotDrawBit;
    settings = nullptr;
    recorder_.ReadInput(mask);
}

Recorder::Recorder() = default;
Recorder::~Recorder() = default;

kdv::Services Recorder::Wrap(const kdv::Services& real) {
    input_ = std::make_unique<Input>(*this, real.input);
    clock_ = std::make_unique<Clock>(*this, real.clock);
    display_ = std::make_unique<Display>(real.display);
    kdv::Services wrapped = real;
    wrapped.input = input_.get();
    wrapped.clock = clock_.get();
    wrapped.display = display_.get();
    return wrapped;
}

void Recorder::Begin(const kdv::Game& game, kdv::FileSystem& files) {
    Header& h = stream_.header;
    h.gameVersion = GameVersion();
    for (size_t i = 0; i < kDataFiles.size(); ++i) {
        const auto size = files.Size(kDataFiles[i]);
        const auto bytes = size ? files.Read(kDataFiles[i], 0, size_t(*size)) : std::nullopt;
        if (!bytes) continue;
        h.data[i] = {bytes->size(), Fnv1a(*bytes)};
    }
    settings_ = SettingsOf(game);
    h.start = settings_;
    // What a new game's dialogs hold: the playback starts from that, not from this game.
    const kdv::SelectLevelState select;
    dialogs_ = {select.position, select.gameItem, false, kdv::OptionsEditState{}.working};
    begun_ = true;
}

void Recorder::FlushTicks() {
    if (pendingTicks_ == 0) return;
    stream_.events.push_back({Event::Ticks, pendingTicks_, 0});
    pendingTicks_ = 0;
}

void Recorder::Push(Event::Kind kind, int64_t a, int32_t b) {
    FlushTicks();
    stream_.events.push_back({kind, a, b});
}

void Recorder::ReadInput(uint32_t mask) {
    if (mask != mask_) Push(Event::Input, mask);
    mask_ = mask;
    ++pendingTicks_;
    ++ticks_;
}

void Recorder::ReadClock(uint32_t value) {
    Push(Event::Clock, int32_t(value - lastClock_));
    lastClock_ = value;
}

void Recorder::NoteChanges(const kdv::Game& game) {
    const PlaySettings now = SettingsOf(game);
    if (!(now == settings_)) {
        stream_.settings.push_back(now);
        Push(Event::Settings, int64_t(stream_.settings.size() - 1));
        settings_ = now;
    }
    const DialogState dialogs = DialogsOf(game);
    if (!(dialogs == dialogs_)) {
        stream_.dialogs.push_back(dialogs);
        Push(Event::Dialogs, int64_t(stream_.dialogs.size() - 1));
        dialogs_ = dialogs;
    }
}

void Recorder::Replayed(const kdv::Game& game) {
    TrackGame(game);
    // A tick or a started game moves the level spinner; the playback's game does the same.
    dialogs_ = DialogsOf(game);
}

void Recorder::BeforeTick(const kdv::Game& game) {
    if (!begun_) return;
    NoteChanges(game);
    input_->settings = &game.Settings;
}

void Recorder::AfterTick(const kdv::Game& game) {
    if (!begun_) return;
    Replayed(game);
}

void Recorder::KeyDown(const kdv::Game& game, int code) {
    if (!begun_) return;
    NoteChanges(game);
    Push(Event::Key, code);
}

void Recorder::MenuItem(const kdv::Game& game, std::string_view item) {
    menuReplayed_ = false;
    if (!begun_) return;
    NoteChanges(game);
    const auto index = MenuIndex(item);
    if (!index) return;  // settings and window only; they arrive as settings
    if (IsMenuStart(item) && current_) {
        finished_ = Cut(&*current_, current_->startTick);
        current_.reset();
    }
    Push(Event::Menu, *index);
    menuReplayed_ = true;
}

void Recorder::AfterAction(const kdv::Game& game) {
    if (!begun_) return;
    // The other items (Options, Select Level) open dialogs whose contents must reach the stream.
    if (menuReplayed_)
        Replayed(game);
    else
        TrackGame(game);
    menuReplayed_ = false;
}

void Recorder::BeforeAction(const kdv::Game& game) {
    if (begun_) NoteChanges(game);
}

void Recorder::LevelSelected(const kdv::Game& game, int stage, int gameItem) {
    if (!begun_) return;
    if (current_) {
        finished_ = Cut(&*current_, current_->startTick);
        current_.reset();
    }
    Push(Event::SelectOk, stage, gameItem);
    Replayed(game);
}

void Recorder::OptionsAccepted(const kdv::Game& game) {
    if (!begun_) return;
    Push(Event::OptionsOk, 0);
    settings_ = SettingsOf(game);
    dialogs_ = DialogsOf(game);
}

void Recorder::TrackGame(const kdv::Game& game) {
    const bool inGame = InGame(game);
    if (current_ && !inGame) {
        finished_ = Cut(&*current_, current_->startTick);
        current_.reset();
    }
    if (inGame && !current_) {
        current_ = GameSpan{ticks_, game.GameMode, game.StageNumber};
        lastStarted_ = current_;
    }
}

Replay Recorder::Cut(const GameSpan* span, int64_t watchFrom) const {
    Replay r = stream_;
    if (pendingTicks_ > 0) r.events.push_back({Event::Ticks, pendingTicks_, 0});
    r.header.ticks = ticks_;
    r.header.watchFrom = watchFrom;
    if (span) {
        r.header.mode = span->mode;
        r.header.stage = span->stage;
    }
    return r;
}

Replay Recorder::Whole() const {
    return Cut(lastStarted_ ? &*lastStarted_ : nullptr, 0);
}

std::optional<Replay> Recorder::TakeFinishedGame() {
    auto finished = std::move(finished_);
    finished_.reset();
    return finished;
}

std::optional<Replay> Recorder::GameInProgress() const {
    if (!current_) return std::nullopt;
    return Cut(&*current_, current_->startTick);
}

}  // namespace replay
