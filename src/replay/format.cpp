#include "replay/format.h"

#include <bit>
#include <cstring>

#include "replay/bytes.h"
#include "replay/game_state.h"

namespace replay {
namespace {

constexpr uint8_t kMagic[8] = {'K', 'D', 'V', 'R', 'P', 'L', 'A', 'Y'};
constexpr uint8_t kEnd = 0;
constexpr size_t kMaxBuildBytes = 64;

using Row = kdv::BindingRow kdv::Settings::*;
constexpr Row kRows[4] = {&kdv::Settings::keys1, &kdv::Settings::joystick1, &kdv::Settings::keys2,
                          &kdv::Settings::joystick2};

void WriteSettings(Writer& w, const kdv::Settings& s) {
    w.Signed(s.soundVolume);
    w.Signed(s.gameDifficulty);
    w.Signed(s.language);
    w.Byte(uint8_t(s.soundEnable | s.moreTanks << 1 | s.paletteType << 2 | s.fullScreen << 3 |
                   s.smallScreen << 4 | s.forceFeedback << 5));
    for (Row row : kRows)
        for (int32_t code : s.*row) w.Signed(code);
}

void WriteSettings(Writer& w, const PlaySettings& p) {
    WriteSettings(w, p.settings);
    w.Signed(p.starPeriod);
}

kdv::Settings ReadBareSettings(Reader& r) {
    kdv::Settings s;
    const char* what = "the settings";
    s.soundVolume = r.Int32(what);
    s.gameDifficulty = r.Int32(what);
    s.language = r.Int32(what);
    const uint8_t flags = r.Byte(what);
    if (flags >> 6) r.Fail("the settings have unknown flags");
    s.soundEnable = flags & 1;
    s.moreTanks = flags & 2;
    s.paletteType = flags & 4;
    s.fullScreen = flags & 8;
    s.smallScreen = flags & 16;
    s.forceFeedback = flags & 32;
    for (Row row : kRows)
        for (int32_t& code : s.*row) code = r.Int32(what);
    // Only what the settings file and the game can produce.
    if (s.gameDifficulty > 3 || (s.language != 0 && s.language != 1))
        r.Fail("the settings hold values the game never has");
    return s;
}

PlaySettings ReadSettings(Reader& r) {
    PlaySettings p;
    p.settings = ReadBareSettings(r);
    p.starPeriod = r.Int32("the settings");
    if (p.starPeriod != 16 && p.starPeriod != 32)
        r.Fail("the settings hold values the game never has");
    return p;
}

void WriteDialogs(Writer& w, const DialogState& d) {
    w.Signed(d.position);
    w.Signed(d.gameItem);
    w.Byte(d.optionsOpen);
    WriteSettings(w, d.working);
}

DialogState ReadDialogs(Reader& r) {
    DialogState d;
    const char* what = "the dialogs";
    d.position = r.Int32(what);
    d.gameItem = r.Int32(what);
    const uint8_t open = r.Byte(what);
    if (open > 1) r.Fail("the dialogs hold values the game never has");
    d.optionsOpen = open;
    d.working = ReadBareSettings(r);
    return d;
}

bool SameSettings(const kdv::Settings& x, const kdv::Settings& y) {
    return x.soundVolume == y.soundVolume && x.gameDifficulty == y.gameDifficulty &&
           x.language == y.language && x.soundEnable == y.soundEnable &&
           x.moreTanks == y.moreTanks && x.paletteType == y.paletteType &&
           x.fullScreen == y.fullScreen && x.smallScreen == y.smallScreen &&
           x.forceFeedback == y.forceFeedback && x.keys1 == y.keys1 && x.joystick1 == y.joystick1 &&
           x.keys2 == y.keys2 && x.joystick2 == y.joystick2;
}

// The header up to the start state; what a listing of kept games needs.
void WriteHeadFields(Writer& w, const Header& h) {
    w.Text(h.build);
    w.Signed(h.startTime);
    for (size_t i = 0; i < h.data.size(); ++i) {
        w.Unsigned(h.data[i].size);
        w.Fixed(h.data[i].hash, 8);
        if (i == kLevelData) w.Bytes(h.levelsRead);
    }
    WriteSettings(w, h.start);
    WriteDialogs(w, h.dialogs);
    w.Byte(h.mode);
    w.Signed(h.stage);
    w.Unsigned(uint64_t(h.ticks));
    w.Signed(h.scores[0]);
    w.Signed(h.scores[1]);
    if (h.formatVersion < 4) return;
    w.Byte(uint8_t(h.side));
    if (h.side != Side::Local) w.Text(h.partner.substr(0, kMaxPartnerBytes));
}

void ReadHeadFields(Reader& r, Header& h) {
    h.build = r.Text(kMaxBuildBytes, "the build");
    h.startTime = r.Signed("the header");
    for (size_t i = 0; i < h.data.size(); ++i) {
        h.data[i].size = r.Unsigned("the data files");
        h.data[i].hash = r.Fixed(8, "the data files");
        if (i != kLevelData) continue;
        if (h.data[i].size > kMaxLevelRecords) r.Fail("the header's level file is too large");
        const auto read = r.Bytes(size_t(kMaxLevelRecords / 8), "the level records read");
        h.levelsRead.assign(read.begin(), read.end());
        if (r.Ok() && h.levelsRead.size() != (h.data[i].size + 7) / 8)
            r.Fail("the level records read do not fit the level file");
    }
    h.start = ReadSettings(r);
    h.dialogs = ReadDialogs(r);
    h.mode = r.Byte("the header");
    if (h.mode > 3 && h.mode != kNoMode) r.Fail("the header names an unknown game mode");
    h.stage = r.Int32("the header");
    const uint64_t ticks = r.Unsigned("the header");
    if (ticks > uint64_t(kMaxTicks))
        r.Fail("the replay is longer than " + std::to_string(kMaxTicks) + " ticks (" +
               std::to_string(ticks) + ")");
    h.ticks = int64_t(ticks);
    h.scores[0] = r.Int32("the header");
    h.scores[1] = r.Int32("the header");
    if (h.formatVersion < 4) return;
    const uint8_t side = r.Byte("the header");
    const Side last = h.formatVersion < 5 ? Side::Joiner : Side::Watcher;
    if (side > uint8_t(last)) r.Fail("the header names an unknown side of a network game");
    h.side = Side(side);
    if (h.side != Side::Local) h.partner = r.Text(kMaxPartnerBytes, "the partner's address");
}

// How many level records the bits mark as read.
size_t RecordsRead(const std::vector<uint8_t>& read) {
    size_t n = 0;
    for (uint8_t byte : read) n += size_t(std::popcount(byte));
    return n;
}

void ReadLevelRecords(Reader& r, Header& h) {
    const auto records = r.Bytes(kMaxLevelRecords * kLevelRecordBytes, "the level records");
    h.levelRecords.assign(records.begin(), records.end());
    // A bit past the last record would mark one the file never had.
    const uint64_t n = h.data[kLevelData].size;
    if (r.Ok() && n % 8 && !h.levelsRead.empty() && h.levelsRead.back() >> (n % 8))
        r.Fail("the level records read do not fit the level file");
    if (r.Ok() && h.levelRecords.size() != RecordsRead(h.levelsRead) * kLevelRecordBytes)
        r.Fail("the level records do not match the records read");
}

// Magic and format version; an empty answer when they fit.
std::string CheckFormat(std::span<const uint8_t> bytes) {
    if (bytes.size() < sizeof kMagic || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0)
        return "this is not a Kordavel replay";
    if (bytes.size() < sizeof kMagic + 2) return "the file ends inside the header (truncated?)";
    const unsigned version = bytes[8] | unsigned(bytes[9]) << 8;
    const std::string plays =
        std::to_string(kOldestFormat) + " to " + std::to_string(kFormatVersion) + " only";
    if (version < kOldestFormat)
        return "the replay is of format " + std::to_string(version) +
               ", written by an older Kordavel; this program plays formats " + plays;
    if (version > kFormatVersion)
        return "the replay is of format " + std::to_string(version) +
               "; this program plays formats " + plays;
    return {};
}

}  // namespace

bool operator==(const PlaySettings& a, const PlaySettings& b) {
    return a.starPeriod == b.starPeriod && SameSettings(a.settings, b.settings);
}

bool operator==(const DialogState& a, const DialogState& b) {
    return a.position == b.position && a.gameItem == b.gameItem && a.optionsOpen == b.optionsOpen &&
           SameSettings(a.working, b.working);
}

std::optional<uint8_t> MenuIndex(std::string_view item) {
    for (size_t i = 0; i < kMenuItems.size(); ++i)
        if (item == kMenuItems[i]) return uint8_t(i);
    return std::nullopt;
}

void AppendEvent(std::vector<uint8_t>& stream, const Event& e) {
    Writer w;
    w.out.swap(stream);
    // Short runs of ticks, the most common event, take one byte.
    if (e.kind == Event::Ticks && e.a >= 1 && e.a <= 128) {
        w.Byte(uint8_t(0x80 | (e.a - 1)));
    } else {
        w.Byte(e.kind);
        switch (e.kind) {
            case Event::Ticks:
            case Event::Input:
            case Event::Menu:
                w.Unsigned(uint64_t(e.a));
                break;
            case Event::Key:
            case Event::Clock:  // already a difference from the reading before
                w.Signed(e.a);
                break;
            case Event::Settings:
                WriteSettings(w, e.settings);
                break;
            case Event::SelectOk:
                w.Signed(e.a);
                w.Byte(uint8_t(e.b));
                break;
            case Event::OptionsOk:
                break;
            case Event::Dialogs:
                WriteDialogs(w, e.dialogs);
                break;
            case Event::Checkpoint:
                w.Fixed(e.hash, 8);
                break;
            case Event::Write:
                w.Byte(uint8_t(e.a));
                break;
        }
    }
    w.out.swap(stream);
}

EventReader::EventReader(std::span<const uint8_t> stream) : stream_(stream) {}

bool EventReader::Next(Event& e) {
    if (!error_.empty() || pos_ >= stream_.size()) return false;
    Reader r(stream_.subspan(pos_));
    const uint8_t kind = r.Byte("the input stream");
    e = Event{};
    e.kind = Event::Kind(kind);
    const char* what = "the input stream";
    if (kind & 0x80) {
        e.kind = Event::Ticks;
        e.a = (kind & 0x7F) + 1;
    } else {
        switch (kind) {
            case Event::Ticks:
                e.a = int64_t(r.Unsigned(what));
                if (r.Ok() && (e.a == 0 || e.a > kMaxTicks))
                    r.Fail("a run of ticks is empty or too long");
                break;
            case Event::Input:
                e.a = int64_t(r.Unsigned(what));
                if (uint64_t(e.a) >> (kBindingSlots + 1)) r.Fail("an input mask has unknown bits");
                break;
            case Event::Key:
            case Event::Clock:
                e.a = r.Int32(what);
                break;
            case Event::Menu:
                e.a = int64_t(r.Unsigned(what));
                if (uint64_t(e.a) >= kMenuItems.size())
                    r.Fail("the stream names an unknown menu item");
                break;
            case Event::Settings:
                e.settings = ReadSettings(r);
                break;
            case Event::SelectOk:
                e.a = r.Int32(what);
                e.b = r.Byte(what);
                if (e.b > 2) r.Fail("a level selection names an unknown game");
                if (e.a < 1 || e.a > 0xFFFF) r.Fail("a level selection names an impossible stage");
                break;
            case Event::OptionsOk:
                break;
            case Event::Dialogs:
                e.dialogs = ReadDialogs(r);
                break;
            case Event::Checkpoint:
                e.hash = r.Fixed(8, what);
                break;
            case Event::Write:
                e.a = r.Byte(what);
                if (e.a > 1) r.Fail("a file write has an unknown outcome");
                break;
            default:
                r.Fail("the stream holds an unknown event (" + std::to_string(kind) + ")");
                break;
        }
    }
    if (!r.Ok()) {
        error_ = r.Error() + " (at byte " + std::to_string(pos_) + " of the stream)";
        return false;
    }
    pos_ += r.Position();
    return true;
}

std::vector<uint8_t> Encode(const Replay& replay) {
    Writer w;
    const Header& h = replay.header;
    w.out.assign(std::begin(kMagic), std::end(kMagic));
    w.Fixed(h.formatVersion, 2);
    WriteHeadFields(w, h);
    if (h.formatVersion >= 4) w.Bytes(h.levelRecords);
    w.Byte(h.from ? 1 : 0);
    if (h.from) {
        w.Bytes(h.from->game);
        w.Unsigned(h.from->mask);
        w.Fixed(h.from->clock, 4);
        if (h.formatVersion >= 5) w.Unsigned(uint64_t(h.from->tick));
    }
    w.out.insert(w.out.end(), replay.stream.begin(), replay.stream.end());
    w.Byte(kEnd);
    w.Fixed(Crc32(w.out), 4);
    return w.out;
}

std::optional<Header> DecodeHeader(std::span<const uint8_t> bytes) {
    if (!CheckFormat(bytes).empty()) return std::nullopt;
    Reader r(bytes.subspan(sizeof kMagic + 2));
    Header h;
    h.formatVersion = uint16_t(bytes[8] | bytes[9] << 8);
    ReadHeadFields(r, h);
    if (!r.Ok()) return std::nullopt;
    return h;
}

DecodeResult Decode(std::span<const uint8_t> bytes, bool checkSum) {
    DecodeResult result;
    auto fail = [&](const std::string& why) {
        result.error = why;
        return result;
    };
    if (bytes.size() > kMaxFileBytes) return fail("the file is too large to be a replay");
    if (auto why = CheckFormat(bytes); !why.empty()) return fail(why);
    if (bytes.size() < sizeof kMagic + 2 + 4)
        return fail("the file ends inside the header (truncated?)");
    if (checkSum) {
        const uint32_t stored =
            uint32_t(bytes[bytes.size() - 4]) | uint32_t(bytes[bytes.size() - 3]) << 8 |
            uint32_t(bytes[bytes.size() - 2]) << 16 | uint32_t(bytes[bytes.size() - 1]) << 24;
        if (Crc32(bytes.subspan(0, bytes.size() - 4)) != stored)
            return fail("the file is damaged or truncated (its checksum does not match)");
    }
    const auto body = bytes.subspan(sizeof kMagic + 2, bytes.size() - 4 - sizeof kMagic - 2);
    Reader r(body);
    Replay replay;
    Header& h = replay.header;
    h.formatVersion = uint16_t(bytes[8] | bytes[9] << 8);
    ReadHeadFields(r, h);
    if (h.formatVersion >= 4) ReadLevelRecords(r, h);
    const uint8_t from = r.Byte("the header");
    if (from > 1) r.Fail("the header's start is unknown");
    if (r.Ok() && from) {
        StartState s;
        const auto game = r.Bytes(kMaxFileBytes, "the start state");
        s.game.assign(game.begin(), game.end());
        s.mask = uint32_t(r.Unsigned("the start state"));
        if (s.mask >> (kBindingSlots + 1)) r.Fail("the start state's input mask has unknown bits");
        s.clock = uint32_t(r.Fixed(4, "the start state"));
        if (h.formatVersion >= 5) {
            const uint64_t tick = r.Unsigned("the start state");
            if (tick > uint64_t(kMaxTicks)) r.Fail("the start state's tick is out of range");
            s.tick = int64_t(tick);
        }
        if (r.Ok()) {
            std::string why;
            if (!CheckGameState(s.game, why)) r.Fail("the start state is damaged: " + why);
        }
        h.from = std::move(s);
    }
    if (!r.Ok()) return fail(r.Error());

    // The stream is walked once here, so that playing it can never fail on its bytes.
    const auto rest = body.subspan(r.Position());
    EventReader events(rest);
    Event e;
    int64_t ran = 0;
    while (events.Next(e))
        if (e.kind == Event::Ticks && (ran += e.a) > h.ticks)
            return fail("the stream has more ticks than its header");
    if (!events.Error().empty()) {
        // Reading stops at the end byte: an unknown kind 0 is the end.
        if (events.Position() >= rest.size() || rest[events.Position()] != kEnd)
            return fail(events.Error());
    }
    const size_t end = events.Position();
    if (end >= rest.size() || rest[end] != kEnd) return fail("the stream has no end (truncated?)");
    if (ran != h.ticks)
        return fail("the stream ends before the ticks its header counts (truncated?)");
    if (end + 1 != rest.size()) return fail("there are bytes after the end of the stream");
    replay.stream.assign(rest.begin(), rest.begin() + long(end));
    result.replay = std::move(replay);
    return result;
}

uint64_t Fnv1a(std::span<const uint8_t> bytes, uint64_t hash) {
    for (uint8_t b : bytes) {
        hash ^= b;
        hash *= 1099511628211ull;
    }
    return hash;
}

namespace {

// Eight bytes as a little-endian number, whatever the machine.
uint64_t Word(const uint8_t* p) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
    return w;
}

uint64_t Mix(uint64_t h, uint64_t w) {
    h = (h ^ w) * 0x9E3779B97F4A7C15ull;
    return h ^ h >> 29;
}

// The last step: every bit of the lanes reaches every bit of the result.
uint64_t Avalanche(uint64_t h) {
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    return h ^ h >> 33;
}

}  // namespace

uint64_t WideHash(std::span<const uint8_t> bytes, uint64_t hash) {
    uint64_t lane[4] = {hash, hash ^ 0x243F6A8885A308D3ull, hash ^ 0x13198A2E03707344ull,
                        hash ^ 0xA4093822299F31D0ull};
    const uint8_t* p = bytes.data();
    size_t left = bytes.size();
    for (; left >= 32; p += 32, left -= 32)
        for (int k = 0; k < 4; ++k) lane[k] = Mix(lane[k], Word(p + 8 * k));
    // The rest, zero-filled to whole words; the length tells "ab" from "ab\0".
    uint8_t tail[32] = {};
    if (left) std::memcpy(tail, p, left);
    for (size_t k = 0; k * 8 < left; ++k) lane[k] = Mix(lane[k], Word(tail + 8 * k));
    uint64_t h = Mix(lane[0], uint64_t(bytes.size()));
    for (int k = 1; k < 4; ++k) h = Mix(h, lane[k]);
    return Avalanche(h);
}

std::string Printable(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c < ' ' || c > '~') c = '?';
    return out;
}

uint32_t Crc32(std::span<const uint8_t> bytes) {
    static const auto kTable = [] {
        std::array<uint32_t, 256> table{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
        return table;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t b : bytes) crc = kTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

}  // namespace replay
