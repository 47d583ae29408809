#include "replay/recorder.h"

#include <algorithm>
#include <chrono>
#include <string_view>

#include "core/field/map.h"
#include "core/flow/game_flow.h"
#include "core/flow/game_state.h"
#include "core/game.h"
#include "core/screen/graphics_pack.h"
#include "replay/game_state.h"
#include "replay/state_hash.h"

namespace replay {
namespace {

bool IsMenuStart(std::string_view item) {
    return item == "MStart1Player" || item == "MStart2Player" || item == "MStartDuel" ||
           item == kBackToTitle || item == kEnterTitle;
}

int64_t SystemMilliseconds() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
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
            if (const auto down = device.SlotDown(r * kdv::kActions + a))
                on = *down;
            else if (keyboard)
                on = code >= 1 && code <= 123 && device.KeyDown(code);
            else
                on = (code & 0xFF) < kdv::kNoJoystickState && device.JoyStateOn(code & 0xFF);
            if (on) mask |= 1u << (r * kdv::kActions + a);
        }
    }
    return mask;
}

uint64_t CheckpointHash(const kdv::Game& game) {
    return QuickStateHash(game, 0);
}

uint64_t LevelsHash(const std::vector<uint64_t>& recordHashes, const std::vector<uint8_t>& read) {
    uint64_t hash = Fnv1a({});
    for (size_t i = 0; i < recordHashes.size(); ++i) {
        if (!(read[i / 8] >> (i % 8) & 1)) continue;
        uint8_t bytes[12];
        for (int k = 0; k < 4; ++k) bytes[k] = uint8_t(i >> (8 * k));
        for (int k = 0; k < 8; ++k) bytes[4 + k] = uint8_t(recordHashes[i] >> (8 * k));
        hash = Fnv1a(bytes, hash);
    }
    return hash;
}

// One recording in progress: the stream from the program's start, or one game's.
struct Recorder::Track {
    Header header;
    std::vector<uint8_t> stream;
    int64_t sinceCheckpoint = 0;
    std::vector<std::vector<uint8_t>> levels;  // the records read, by record (empty: unread)
};

// The device as it is; at the input poll of each tick the states of the bindings are noted.
class Recorder::Input : public kdv::InputDevice {
  public:
    Input(Recorder& recorder, kdv::InputDevice* inner) : recorder_(recorder), inner_(inner) {}
    void Update() override;
    bool KeyDown(int code) const override { return inner_ && inner_->KeyDown(code); }
    bool JoyStateOn(int state) const override { return inner_ && inner_->JoyStateOn(state); }
    std::optional<bool> SlotDown(int slot) const override {
        return inner_ ? inner_->SlotDown(slot) : std::nullopt;
    }
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

// The files as they are; what the game reads of the level file and how its writes end are
// noted, so that the replay checks the one and repeats the other.
class Recorder::Files : public kdv::FileSystem {
  public:
    Files(Recorder& recorder, kdv::FileSystem* inner) : recorder_(recorder), inner_(inner) {}
    bool CanOpen(const std::string& path) override { return inner_->CanOpen(path); }
    std::optional<uint64_t> Size(const std::string& path) override { return inner_->Size(path); }
    std::optional<std::vector<uint8_t>> Read(const std::string& path, uint64_t offset,
                                             size_t length) override {
        auto bytes = inner_->Read(path, offset, length);
        if (bytes && path == kDataFiles[kLevelData]) recorder_.ReadLevels(offset, *bytes);
        return bytes;
    }
    void Append(const std::string& path, const std::vector<uint8_t>& bytes) override {
        try {
            inner_->Append(path, bytes);
        } catch (const kdv::FileError&) {
            recorder_.Wrote(false);
            throw;
        }
        recorder_.Wrote(true);
    }
    bool Replace(const std::string& path, const std::vector<uint8_t>& bytes) override {
        const bool ok = inner_->Replace(path, bytes);
        recorder_.Wrote(ok);
        return ok;
    }
    std::string Where(const std::string& path) override { return inner_->Where(path); }
    uint64_t Records() {
        const auto size = inner_->Size(kDataFiles[kLevelData]);
        return size ? std::min(*size / kLevelRecordBytes, kMaxLevelRecords) : 0;
    }
    std::optional<std::vector<uint8_t>> Record(uint64_t index) {
        return inner_->Read(kDataFiles[kLevelData], index * kLevelRecordBytes, kLevelRecordBytes);
    }

  private:
    Recorder& recorder_;
    kdv::FileSystem* inner_;
};

void Recorder::Input::Update() {
    if (inner_) inner_->Update();
    if (!settings) return;
    uint32_t mask = inner_ ? BindingMask(*settings, *inner_) : 0;
    if (!recorder_.display_->Sample()) mask |= kCannotDrawBit;
    settings = nullptr;
    recorder_.ReadInput(mask);
}

Recorder::Recorder(bool keepWhole) : wallClock(SystemMilliseconds), keepWhole_(keepWhole) {}
Recorder::~Recorder() = default;

kdv::Services Recorder::Wrap(const kdv::Services& real) {
    input_ = std::make_unique<Input>(*this, real.input);
    clock_ = std::make_unique<Clock>(*this, real.clock);
    display_ = std::make_unique<Display>(real.display);
    kdv::Services wrapped = real;
    wrapped.input = input_.get();
    wrapped.clock = clock_.get();
    wrapped.display = display_.get();
    if (real.files) {
        files_ = std::make_unique<Files>(*this, real.files);
        wrapped.files = files_.get();
    }
    if (keepWhole_) {
        // Start-up reads the level file before Begin: the whole stream counts those reads.
        whole_ = std::make_unique<Track>();
        if (files_) {
            whole_->header.data[kLevelData].size = files_->Records();
            whole_->levels.resize(whole_->header.data[kLevelData].size);
            whole_->header.levelsRead.resize((whole_->levels.size() + 7) / 8);
        }
    }
    return wrapped;
}

Recorder::Track Recorder::NewTrack(const kdv::Game& game) const {
    Track t;
    Header& h = t.header;
    h.build = BuildIdentity();
    h.startTime = wallClock ? wallClock() : 0;
    h.data = data_;
    h.start = settings_;
    h.dialogs = dialogs_;
    h.data[kLevelData] = {files_ ? files_->Records() : 0, 0};
    t.levels.resize(h.data[kLevelData].size);
    h.levelsRead.resize((t.levels.size() + 7) / 8);
    h.scores = {game.players[0].score, game.players[1].score};
    return t;
}

Recorder::Track Recorder::TrackFromHere(const kdv::Game& game, std::optional<GameSpan> span,
                                        int64_t tick) const {
    Track t = NewTrack(game);
    if (span) {
        t.header.mode = span->mode;
        t.header.stage = span->stage;
    }
    t.header.from = StartState{SaveGameState(game), mask_, lastClock_, tick};
    Event e;
    e.kind = Event::Checkpoint;
    e.hash = CheckpointHash(game);
    AppendEvent(t.stream, e);
    return t;
}

void Recorder::Begin(const kdv::Game& game, kdv::FileSystem& files) {
    game_ = &game;
    for (size_t i = 0; i < kDataFiles.size(); ++i) {
        if (i == kLevelData) continue;
        const auto size = files.Size(kDataFiles[i]);
        const auto bytes = size ? files.Read(kDataFiles[i], 0, size_t(*size)) : std::nullopt;
        if (bytes) data_[i] = {bytes->size(), Fnv1a(*bytes)};
    }
    settings_ = SettingsOf(game);
    // What a new game's dialogs hold: the playback starts from that, not from this game.
    const kdv::SelectLevelState select;
    dialogs_ = {select.position, select.gameItem, false, kdv::OptionsEditState{}.working};
    if (whole_) {
        // What start-up read stays: its clock reading and the level records.
        Track t = NewTrack(game);
        t.header.data[kLevelData] = whole_->header.data[kLevelData];
        t.header.levelsRead = std::move(whole_->header.levelsRead);
        t.levels = std::move(whole_->levels);
        t.stream = std::move(whole_->stream);
        *whole_ = std::move(t);
    }
    begun_ = true;
}

void Recorder::StartFrom(const kdv::Game& game, int64_t ticksBefore, std::optional<uint32_t> mask,
                         std::optional<uint32_t> clock) {
    // What was recorded before is dropped, ticks still to be written with it.
    pendingTicks_ = 0;
    ticks_ = 0;
    settings_ = SettingsOf(game);
    dialogs_ = DialogsOf(game);
    current_.reset();
    finished_.reset();
    if (playing_) lastStarted_ = playing_;
    if (mask) {
        mask_ = *mask;
    } else {
        // The input the state was taken with, as the game reads it now: the playback starts on it.
        mask_ = BindingMask(game.Settings, *input_);
        if (!display_->Sample()) mask_ |= kCannotDrawBit;
    }
    if (clock) lastClock_ = *clock;
    if (whole_) *whole_ = TrackFromHere(game, playing_, ticksBefore);
}

void Recorder::FlushTicks() {
    if (pendingTicks_ == 0) return;
    Event e;
    e.kind = Event::Ticks;
    e.a = pendingTicks_;
    for (Track* t : {whole_.get(), current_.get()})
        if (t) AppendEvent(t->stream, e);
    pendingTicks_ = 0;
}

void Recorder::Push(const Event& e) {
    FlushTicks();
    for (Track* t : {whole_.get(), current_.get()})
        if (t) AppendEvent(t->stream, e);
}

void Recorder::Push(Event::Kind kind, int64_t a, int32_t b) {
    Event e;
    e.kind = kind;
    e.a = a;
    e.b = b;
    Push(e);
}

void Recorder::ReadInput(uint32_t mask) {
    if (mask != mask_ && begun_) Push(Event::Input, mask);
    mask_ = mask;
    if (!begun_) return;
    ++pendingTicks_;
    ++ticks_;
    for (Track* t : {whole_.get(), current_.get()})
        if (t) ++t->header.ticks, ++t->sinceCheckpoint;
}

void Recorder::ReadClock(uint32_t value) {
    // Start-up's reading (the pause guard) opens the whole stream.
    Push(Event::Clock, int32_t(value - lastClock_));
    lastClock_ = value;
}

void Recorder::ReadLevels(uint64_t offset, const std::vector<uint8_t>& bytes) {
    // A read of more than a record is the editor's save copying the file: what it copies is
    // played only once a stage is loaded from it, and that load is a read of its own.
    if (bytes.empty() || bytes.size() > kLevelRecordBytes) return;
    const uint64_t first = offset / kLevelRecordBytes;
    const uint64_t last = (offset + bytes.size() - 1) / kLevelRecordBytes;
    for (Track* t : {whole_.get(), current_.get()}) {
        if (!t) continue;
        const uint64_t records = t->levels.size();
        for (uint64_t i = first; i <= last && i < records; ++i) {
            uint8_t& byte = t->header.levelsRead[size_t(i / 8)];
            if (byte >> (i % 8) & 1) continue;
            const uint64_t at = i * kLevelRecordBytes;
            std::optional<std::vector<uint8_t>> record;
            if (at >= offset && at + kLevelRecordBytes <= offset + bytes.size())
                record.emplace(bytes.begin() + long(at - offset),
                               bytes.begin() + long(at - offset + kLevelRecordBytes));
            else
                record = files_->Record(i);
            if (!record || record->size() != kLevelRecordBytes) continue;
            t->levels[size_t(i)] = std::move(*record);
            byte = uint8_t(byte | 1u << (i % 8));
        }
    }
}

void Recorder::Wrote(bool ok) {
    if (begun_) Push(Event::Write, ok ? 1 : 0);
}

void Recorder::NoteChanges(const kdv::Game& game) {
    const PlaySettings now = SettingsOf(game);
    if (!(now == settings_)) {
        Event e;
        e.kind = Event::Settings;
        e.settings = now;
        Push(e);
        settings_ = now;
    }
    const DialogState dialogs = DialogsOf(game);
    if (!(dialogs == dialogs_)) {
        Event e;
        e.kind = Event::Dialogs;
        e.dialogs = dialogs;
        Push(e);
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
    if (playing_ && !current_) {
        // The game's first tick has run: its replay starts from the state it left.
        FlushTicks();
        current_ = std::make_unique<Track>(TrackFromHere(game, playing_, 0));
        lastStarted_ = playing_;
    }
    std::optional<uint64_t> hash;
    for (Track* t : {whole_.get(), current_.get()}) {
        if (!t) continue;
        t->header.scores = {game.players[0].score, game.players[1].score};
        if (t->sinceCheckpoint < kCheckpointTicks) continue;
        FlushTicks();
        if (!hash) hash = CheckpointHash(game);
        Event e;
        e.kind = Event::Checkpoint;
        e.hash = *hash;
        AppendEvent(t->stream, e);
        t->sinceCheckpoint = 0;
    }
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
    if (IsMenuStart(item)) EndGame();
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
    if (!begun_) return;
    NoteChanges(game);
    // A level selection ends the game in progress, but is told of only once it has started the
    // next: the ended game's last state is this one.
    if (current_) endHash_ = CheckpointHash(game);
}

void Recorder::LevelSelected(const kdv::Game& game, int stage, int gameItem) {
    if (!begun_) return;
    EndGame(endHash_);
    Push(Event::SelectOk, stage, gameItem);
    Replayed(game);
}

void Recorder::OptionsAccepted(const kdv::Game& game) {
    if (!begun_) return;
    Push(Event::OptionsOk, 0);
    settings_ = SettingsOf(game);
    dialogs_ = DialogsOf(game);
}

void Recorder::EndGame(std::optional<uint64_t> lastHash) {
    if (current_) finished_ = Cut(*current_, lastHash);
    current_.reset();
    playing_.reset();
}

void Recorder::TrackGame(const kdv::Game& game) {
    const bool inGame = kdv::InGame(game);
    if (playing_ && !inGame) EndGame();
    if (inGame && !playing_) playing_ = GameSpan{game.GameMode, game.StageNumber};
}

Replay Recorder::Cut(const Track& track, std::optional<uint64_t> lastHash) const {
    Replay r{track.header, track.stream};
    if (pendingTicks_ > 0) {
        Event e;
        e.kind = Event::Ticks;
        e.a = pendingTicks_;
        AppendEvent(r.stream, e);
    }
    // The state at the end, whatever the stream's last event.
    if (game_ || lastHash) {
        Event e;
        e.kind = Event::Checkpoint;
        e.hash = lastHash ? *lastHash : CheckpointHash(*game_);
        AppendEvent(r.stream, e);
    }
    // The records travel with the replay; their hash lets the file be written as format 3 too.
    std::vector<uint64_t> hashes(track.levels.size());
    for (size_t i = 0; i < track.levels.size(); ++i) {
        if (track.levels[i].empty()) continue;
        hashes[i] = Fnv1a(track.levels[i]);
        r.header.levelRecords.insert(r.header.levelRecords.end(), track.levels[i].begin(),
                                     track.levels[i].end());
    }
    r.header.data[kLevelData].hash = LevelsHash(hashes, r.header.levelsRead);
    return r;
}

Replay Recorder::Whole() const {
    if (!whole_) return {};
    Replay r = Cut(*whole_);
    if (lastStarted_) {
        r.header.mode = lastStarted_->mode;
        r.header.stage = lastStarted_->stage;
    }
    return r;
}

std::optional<Replay> Recorder::TakeFinishedGame() {
    auto finished = std::move(finished_);
    finished_.reset();
    return finished;
}

std::optional<Replay> Recorder::GameInProgress() const {
    if (!current_) return std::nullopt;
    return Cut(*current_);
}

size_t Recorder::StreamBytes() const {
    return (whole_ ? whole_->stream.size() : 0) + (current_ ? current_->stream.size() : 0);
}

}  // namespace replay
