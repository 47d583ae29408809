#include "replay/playback.h"

#include <filesystem>
#include <fstream>

#include "core/controls/settings.h"
#include "core/dialogs/dialogs.h"
#include "core/flow/game_flow.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "core/screen/screen.h"
#include "replay/game_state.h"
#include "replay/recorder.h"

namespace replay {
namespace {

// The data file as the replay needs it: the graphics pack and the font whole, the level file's
// first records with those the game read as they were.
std::optional<std::vector<uint8_t>> ReadData(kdv::FileSystem& disk, size_t index, const Header& h) {
    const char* path = kDataFiles[index];
    const DataFile& want = h.data[index];
    if (index != kLevelData) {
        const auto size = disk.Size(path);
        if (!size) return std::nullopt;
        if (*size != want.size) return std::nullopt;
        auto bytes = disk.Read(path, 0, size_t(want.size));
        if (!bytes || bytes->size() != want.size || Fnv1a(*bytes) != want.hash) return std::nullopt;
        return bytes;
    }
    if (h.formatVersion >= 4) {
        // The records the game read came with the replay; those it never read are blank, and
        // the machine's own level file plays no part.
        std::vector<uint8_t> bytes(size_t(want.size * kLevelRecordBytes));
        auto from = h.levelRecords.begin();
        for (size_t i = 0; i < size_t(want.size); ++i)
            if (h.levelsRead[i / 8] >> (i % 8) & 1) {
                if (h.levelRecords.end() - from < long(kLevelRecordBytes)) return std::nullopt;
                std::copy(from, from + long(kLevelRecordBytes),
                          bytes.begin() + long(i * kLevelRecordBytes));
                from += long(kLevelRecordBytes);
            }
        return bytes;
    }
    // Records added or changed since, and stray bytes after the last record, change nothing
    // the game read.
    const uint64_t length = want.size * kLevelRecordBytes;
    const auto size = disk.Size(path);
    if (!size || *size < length) return std::nullopt;
    auto bytes = disk.Read(path, 0, size_t(length));
    if (!bytes || bytes->size() != length) return std::nullopt;
    std::vector<uint64_t> hashes(size_t(want.size));
    for (size_t i = 0; i < hashes.size(); ++i)
        if (h.levelsRead[i / 8] >> (i % 8) & 1)
            hashes[i] = Fnv1a({bytes->data() + i * kLevelRecordBytes, size_t(kLevelRecordBytes)});
    if (LevelsHash(hashes, h.levelsRead) != want.hash) return std::nullopt;
    return bytes;
}

void ApplySettings(kdv::Game& game, const PlaySettings& p) {
    const bool palette = game.Settings.paletteType != p.settings.paletteType;
    game.Settings = p.settings;
    game.StarPeriod = p.starPeriod;
    if (palette) {
        kdv::BuildPixelTable(game.GamePalette, game.Settings.paletteType, game.PixelTable);
        game.WorkBitmap.rgb565 = game.Settings.paletteType;
    }
}

void ApplyDialogs(kdv::Game& game, const DialogState& d) {
    game.SelectLevel.position = d.position;
    game.SelectLevel.gameItem = d.gameItem;
    game.OptionsEdit.open = d.optionsOpen;
    game.OptionsEdit.working = d.working;
}

}  // namespace

std::optional<Replay> LoadReplay(const std::string& path, std::string& error) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) {
        error = "cannot read \"" + path + "\"";
        return std::nullopt;
    }
    if (size > kMaxFileBytes) {
        error = "\"" + path + "\" is too large to be a replay";
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (!in || !in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()))) {
        error = "cannot read \"" + path + "\"";
        return std::nullopt;
    }
    DecodeResult result = Decode(bytes);
    if (!result.replay) error = "\"" + path + "\": " + result.error;
    return std::move(result.replay);
}

bool SaveReplay(const std::string& path, const Replay& replay, std::string& error) {
    const std::vector<uint8_t> bytes = Encode(replay);
    const std::string temporary = path + ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        out.close();
        if (!out) {
            error = "cannot write \"" + path + "\"";
            std::error_code ec;
            std::filesystem::remove(temporary, ec);
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    if (ec) {
        error = "cannot write \"" + path + "\": " + ec.message();
        std::filesystem::remove(temporary, ec);
        return false;
    }
    return true;
}

void RemoveLeftover(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove(path + ".part", ec);
}

std::optional<std::string> CheckReplay(const Replay& replay, kdv::FileSystem& disk) {
    const Header& h = replay.header;
    // The build comes from the file: a control byte in it must not reach a terminal.
    if (h.build != BuildIdentity())
        return "the replay was recorded by Kordavel build " + Printable(h.build) +
               " and this is Kordavel build " + BuildIdentity() +
               "; it would not play the same game";
    for (size_t i = 0; i < kDataFiles.size(); ++i)
        if (!ReadData(disk, i, h))
            return std::string("the replay was recorded with another \"") + kDataFiles[i] +
                   "\" than the one here; it would not play the same game";
    return std::nullopt;
}

// The verified data files and the recorded settings, in memory; the sound bank from disk.
class Playback::Files : public kdv::FileSystem {
  public:
    Files(Playback& playback, kdv::FileSystem& disk) : playback_(playback), disk_(disk) {
        const Header& h = playback.replay_.header;
        for (size_t i = 0; i < kDataFiles.size(); ++i)
            if (auto bytes = ReadData(disk, i, h)) files_[kDataFiles[i]] = std::move(*bytes);
        const std::string ini = kdv::FormatSettings(h.start.settings);
        files_[kdv::kSettingsFile] = std::vector<uint8_t>(ini.begin(), ini.end());
    }
    bool CanOpen(const std::string& path) override {
        return files_.count(path) || (!Ours(path) && disk_.CanOpen(path));
    }
    std::optional<uint64_t> Size(const std::string& path) override {
        if (auto it = files_.find(path); it != files_.end()) return it->second.size();
        return Ours(path) ? std::nullopt : disk_.Size(path);
    }
    std::optional<std::vector<uint8_t>> Read(const std::string& path, uint64_t offset,
                                             size_t length) override {
        auto it = files_.find(path);
        if (it == files_.end()) return Ours(path) ? std::nullopt : disk_.Read(path, offset, length);
        const auto& data = it->second;
        if (offset >= data.size()) return std::vector<uint8_t>{};
        const size_t n = size_t(std::min<uint64_t>(length, data.size() - offset));
        return std::vector<uint8_t>(data.begin() + long(offset), data.begin() + long(offset + n));
    }
    // A write ends as it ended when the replay was recorded.
    void Append(const std::string& path, const std::vector<uint8_t>& bytes) override {
        if (!Written()) throw kdv::FileError("\"" + path + "\" could not be written");
        auto& data = files_[path];
        data.insert(data.end(), bytes.begin(), bytes.end());
    }
    bool Replace(const std::string& path, const std::vector<uint8_t>& bytes) override {
        if (!Written()) return false;
        files_[path] = bytes;
        return true;
    }

  private:
    bool Written() {
        const auto e = playback_.Take(Event::Write);
        return e && e->a == 1;
    }
    // Never read from disk: what the replay was recorded with, or nothing.
    static bool Ours(const std::string& path) {
        for (const char* data : kDataFiles)
            if (path == data) return true;
        return path == kdv::kSettingsFile;
    }
    Playback& playback_;
    kdv::FileSystem& disk_;
    std::map<std::string, std::vector<uint8_t>> files_;
};

class Playback::Clock : public kdv::Clock {
  public:
    explicit Clock(Playback& playback) : playback_(playback) {}
    uint32_t TickCount() override {
        if (const auto e = playback_.Take(Event::Clock)) now += uint32_t(e->a);
        return now;
    }
    uint32_t now = 0;

  private:
    Playback& playback_;
};

class Playback::Display : public kdv::Display {
  public:
    explicit Display(kdv::Display* outer) : outer_(outer) {}
    bool CanDraw() const override { return canDraw; }
    void Present(const kdv::WorkBitmap& bitmap) override {
        if (show && outer_ && outer_->CanDraw()) outer_->Present(bitmap);
    }
    bool TakesRuns() const override { return show && outer_ != nullptr && outer_->TakesRuns(); }
    void PresentRuns(const kdv::FrameChange& change) override {
        if (show && outer_ && outer_->CanDraw()) outer_->PresentRuns(change);
    }
    bool WantsPixels() const override { return show && outer_ != nullptr; }
    bool canDraw = true;
    bool show = true;

  private:
    kdv::Display* outer_;
};

// The viewer's sound device, already set up by its own game: only the effects pass.
class Playback::Sound : public kdv::SoundDevice {
  public:
    explicit Sound(kdv::SoundDevice* outer) : outer_(outer) {}
    void Initialise() override {
        if (!outer_) throw std::runtime_error("no sound device");
    }
    void Finalise() override {}
    void LoadBank(std::vector<std::vector<uint8_t>>) override {}
    int Count() const override { return outer_ ? outer_->Count() : 0; }
    void Play(int item, int volume, bool) override {
        if (show && outer_) outer_->Play(item, volume, false);
    }
    bool show = true;

  private:
    kdv::SoundDevice* outer_;
};

Playback::Playback(Replay replay, kdv::FileSystem& disk, const kdv::Services& outer)
    : replay_(std::move(replay)),
      events_(replay_.stream),
      input_(std::make_unique<MaskInput>()),
      clock_(std::make_unique<Clock>(*this)),
      display_(std::make_unique<Display>(outer.display)),
      sound_(std::make_unique<Sound>(outer.sound)) {
    files_ = std::make_unique<Files>(*this, disk);
    services_.display = display_.get();
    services_.sound = sound_.get();
    services_.input = input_.get();
    services_.clock = clock_.get();
    services_.files = files_.get();
    services_.window = outer.window;
}

Playback::~Playback() = default;

bool Playback::Start() {
    const Header& h = replay_.header;
    game_ = kdv::MakeGame(services_);
    input_->settings = &game_->Settings;
    // A game's replay begins after start-up: what start-up asks of the clock is not in it.
    starting_ = h.from.has_value();
    kdv::FormCreate(*game_);
    const bool activated = kdv::FormActivate(*game_);
    starting_ = false;
    if (!activated) return false;
    ApplySettings(*game_, h.start);
    ApplyDialogs(*game_, h.dialogs);
    if (h.from) {
        std::string why;
        if (!LoadGameState(h.from->game, *game_, why)) {
            game_->io.window->ShowMessage("The replay's start is damaged: " + why);
            return false;
        }
        input_->mask = h.from->mask;
        display_->canDraw = !(h.from->mask & kCannotDrawBit);
        clock_->now = h.from->clock;
        game_->presentCache.valid = false;
    }
    return true;
}

std::optional<Event> Playback::Take(Event::Kind kind) {
    if (partedAt_ || starting_) return std::nullopt;
    EventReader ahead = events_;
    Event e;
    if (ticksLeft_ == 0 && ahead.Next(e) && e.kind == kind) {
        events_ = ahead;
        return e;
    }
    Part();
    return std::nullopt;
}

bool RunMenuItem(kdv::Game& game, std::string_view item) {
    if (item == kEnterTitle) {
        kdv::EnterTitle(game);
        return true;
    }
    if (item == kBackToTitle) {
        kdv::BackToTitle(game);
        return true;
    }
    return kdv::ClickMenu(game, item);
}

void Playback::Part() {
    if (!partedAt_) partedAt_ = ticksRun_ + (inTick_ ? 1 : 0);
}

void Playback::Apply(const Event& e) {
    kdv::Game& game = *game_;
    switch (e.kind) {
        case Event::Input:
            input_->mask = uint32_t(e.a);
            display_->canDraw = !(e.a & kCannotDrawBit);
            break;
        case Event::Key:
            kdv::FormKeyDown(game, int(e.a), false);
            break;
        case Event::Menu:
            RunMenuItem(game, kMenuItems[size_t(e.a)]);
            break;
        case Event::Settings:
            ApplySettings(game, e.settings);
            break;
        case Event::SelectOk:
            // Recorded only when it started a game; a refusal here is another game.
            if (kdv::SelectOkClick(game, int(e.a), e.b)) Part();
            break;
        case Event::OptionsOk:
            kdv::OptionOkClick(game);
            break;
        case Event::Dialogs:
            ApplyDialogs(game, e.dialogs);
            break;
        case Event::Checkpoint:
            if (CheckpointHash(game) != e.hash) Part();
            break;
        case Event::Clock:  // a reading, or a write, the game did not ask for
        case Event::Write:
            Part();
            break;
        case Event::Ticks:
            break;
    }
}

bool Playback::Step() {
    if (!game_ || partedAt_) return false;
    while (ticksLeft_ == 0) {
        Event e;
        if (!events_.Next(e)) return false;
        if (e.kind == Event::Ticks)
            ticksLeft_ = e.a;
        else
            Apply(e);
        if (partedAt_) return false;
    }
    --ticksLeft_;
    inTick_ = true;
    kdv::DXTimerTimer(*game_);
    inTick_ = false;
    ++ticksRun_;
    return !partedAt_;
}

void Playback::Finish() {
    if (!game_ || partedAt_ || !Finished() || ticksLeft_ != 0) return;
    Event e;
    while (!partedAt_ && events_.Next(e)) Apply(e);
}

bool Playback::Finished() const {
    return ticksRun_ >= replay_.header.ticks;
}

std::string Playback::PartedMessage() const {
    if (!partedAt_) return {};
    return "the replay parts from the game at tick " + std::to_string(*partedAt_);
}

void Playback::Show(bool on) {
    // What the viewer shows missed the frames played unseen: the next one is drawn whole.
    if (on && !display_->show && game_) game_->presentCache.valid = false;
    display_->show = on;
    sound_->show = on;
}

}  // namespace replay
