#include "replay/playback.h"

#include <filesystem>
#include <fstream>

#include "core/controls/settings.h"
#include "core/dialogs/dialogs.h"
#include "core/flow/game_flow.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "core/screen/screen.h"

namespace replay {
namespace {

constexpr const char* kLevelFile = "data/lswap.dat";

// The data file as the replay needs it: whole, or for the level file its first bytes (the
// editor only ever appends, so levels added since keep older replays playable).
std::optional<std::vector<uint8_t>> ReadData(kdv::FileSystem& disk, size_t index,
                                             const DataFile& want) {
    const char* path = kDataFiles[index];
    const auto size = disk.Size(path);
    if (!size) return std::nullopt;
    const bool prefix = std::string_view(path) == kLevelFile;
    if (prefix ? *size < want.size : *size != want.size) return std::nullopt;
    auto bytes = disk.Read(path, 0, size_t(want.size));
    if (!bytes || bytes->size() != want.size || Fnv1a(*bytes) != want.hash) return std::nullopt;
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
            std::filesystem::remove(temporary);
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

std::optional<std::string> CheckReplay(const Replay& replay, kdv::FileSystem& disk) {
    const Header& h = replay.header;
    if (h.gameVersion != GameVersion())
        return "the replay was recorded by Kordavel " + h.gameVersion + " and this is Kordavel " +
               GameVersion() + "; it would not play the same game";
    for (size_t i = 0; i < kDataFiles.size(); ++i)
        if (!ReadData(disk, i, h.data[i]))
            return std::string("the replay was recorded with another \"") + kDataFiles[i] +
                   "\" than the one here; it would not play the same game";
    return std::nullopt;
}

// The verified data files and the recorded settings, in memory; the sound bank from disk.
class Playback::Files : public kdv::FileSystem {
  public:
    Files(kdv::FileSystem& disk, const Replay& replay) : disk_(disk) {
        for (size_t i = 0; i < kDataFiles.size(); ++i)
            if (auto bytes = ReadData(disk, i, replay.header.data[i]))
                files_[kDataFiles[i]] = std::move(*bytes);
        const std::string ini = kdv::FormatSettings(replay.header.start.settings);
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
    void Append(const std::string& path, const std::vector<uint8_t>& bytes) override {
        auto it = files_.find(path);
        if (it == files_.end()) throw kdv::FileError("\"" + path + "\" does not exist");
        it->second.insert(it->second.end(), bytes.begin(), bytes.end());
    }
    bool Replace(const std::string& path, const std::vector<uint8_t>& bytes) override {
        files_[path] = bytes;
        return true;
    }

  private:
    // Never read from disk: what the replay was recorded with, or nothing.
    static bool Ours(const std::string& path) {
        for (const char* data : kDataFiles)
            if (path == data) return true;
        return path == kdv::kSettingsFile;
    }
    kdv::FileSystem& disk_;
    std::map<std::string, std::vector<uint8_t>> files_;
};

class Playback::Clock : public kdv::Clock {
  public:
    uint32_t TickCount() override {
        if (next < readings.size()) return readings[next++];
        ++overrun;
        return readings.empty() ? 0 : readings.back();
    }
    std::vector<uint32_t> readings;
    size_t next = 0;
    long overrun = 0;
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
    void LoadBank(const std::vector<std::vector<uint8_t>>&) override {}
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
      files_(std::make_unique<Files>(disk, replay_)),
      input_(std::make_unique<MaskInput>()),
      clock_(std::make_unique<Clock>()),
      display_(std::make_unique<Display>(outer.display)),
      sound_(std::make_unique<Sound>(outer.sound)) {
    uint32_t now = 0;
    for (const Event& e : replay_.events)
        if (e.kind == Event::Clock) clock_->readings.push_back(now += uint32_t(e.a));
    services_.display = display_.get();
    services_.sound = sound_.get();
    services_.input = input_.get();
    services_.clock = clock_.get();
    services_.files = files_.get();
    services_.window = outer.window;
}

Playback::~Playback() = default;

bool Playback::Start() {
    game_ = kdv::MakeGame(services_);
    input_->settings = &game_->Settings;
    kdv::FormCreate(*game_);
    if (!kdv::FormActivate(*game_)) return false;
    ApplySettings(*game_, replay_.header.start);
    return true;
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
            kdv::ClickMenu(game, kMenuItems[size_t(e.a)]);
            break;
        case Event::Settings:
            ApplySettings(game, replay_.settings[size_t(e.a)]);
            break;
        case Event::SelectOk:
            // Recorded only when it started a game; a refusal here is another game.
            if (kdv::SelectOkClick(game, int(e.a), e.b)) diverged_ = true;
            break;
        case Event::OptionsOk:
            kdv::OptionOkClick(game);
            break;
        case Event::Dialogs: {
            const DialogState& d = replay_.dialogs[size_t(e.a)];
            game.SelectLevel.position = d.position;
            game.SelectLevel.gameItem = d.gameItem;
            game.OptionsEdit.open = d.optionsOpen;
            game.OptionsEdit.working = d.working;
            break;
        }
        case Event::Clock:  // served in order by the clock
        case Event::Ticks:
            break;
    }
}

bool Playback::Step() {
    if (!game_) return false;
    while (ticksLeft_ == 0) {
        if (next_ >= replay_.events.size()) return false;
        const Event& e = replay_.events[next_++];
        if (e.kind == Event::Ticks)
            ticksLeft_ = e.a;
        else
            Apply(e);
    }
    --ticksLeft_;
    kdv::DXTimerTimer(*game_);
    ++ticksRun_;
    return true;
}

bool Playback::Finished() const {
    return ticksRun_ >= replay_.header.ticks;
}

bool Playback::InStep() const {
    if (clock_->overrun || diverged_) return false;
    return !Finished() || clock_->next == clock_->readings.size();
}

void Playback::Show(bool on) {
    display_->show = on;
    sound_->show = on;
}

}  // namespace replay
