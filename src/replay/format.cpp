#include "replay/format.h"

#include <cstring>

#ifndef KORDAVEL_VERSION
#define KORDAVEL_VERSION "0"
#endif

namespace replay {
namespace {

constexpr uint8_t kMagic[8] = {'K', 'D', 'V', 'R', 'P', 'L', 'A', 'Y'};
constexpr uint8_t kEnd = 0;
constexpr size_t kMaxVersionBytes = 64;

class Writer {
  public:
    std::vector<uint8_t> out;

    void Byte(uint8_t b) { out.push_back(b); }
    void Unsigned(uint64_t v) {
        while (v >= 0x80) {
            out.push_back(uint8_t(v) | 0x80);
            v >>= 7;
        }
        out.push_back(uint8_t(v));
    }
    void Signed(int64_t v) { Unsigned((uint64_t(v) << 1) ^ uint64_t(v >> 63)); }
    void Fixed(uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(v >> (8 * i)));
    }
    void Text(const std::string& s) {
        Unsigned(s.size());
        out.insert(out.end(), s.begin(), s.end());
    }
};

// Every read checks what is left; the first failure sticks and names what was being read.
class Reader {
  public:
    explicit Reader(std::span<const uint8_t> in) : in_(in) {}
    bool Ok() const { return error_.empty(); }
    const std::string& Error() const { return error_; }
    size_t Left() const { return in_.size() - pos_; }
    void Fail(const std::string& why) {
        if (error_.empty()) error_ = why;
    }

    uint8_t Byte(const char* what) {
        if (!Ok() || Left() < 1) return Fail(Short(what)), 0;
        return in_[pos_++];
    }
    uint64_t Unsigned(const char* what) {
        uint64_t v = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            const uint8_t b = Byte(what);
            if (!Ok()) return 0;
            v |= uint64_t(b & 0x7F) << shift;
            if (!(b & 0x80)) {
                // The tenth byte may carry one bit only.
                if (shift == 63 && b > 1) break;
                return v;
            }
        }
        Fail(std::string("a number in ") + what + " is malformed");
        return 0;
    }
    int64_t Signed(const char* what) {
        const uint64_t u = Unsigned(what);
        return int64_t(u >> 1) ^ -int64_t(u & 1);
    }
    int32_t Int32(const char* what) {
        const int64_t v = Signed(what);
        if (v < INT32_MIN || v > INT32_MAX) {
            Fail(std::string("a value in ") + what + " is out of range");
            return 0;
        }
        return int32_t(v);
    }
    uint64_t Fixed(int bytes, const char* what) {
        uint64_t v = 0;
        for (int i = 0; i < bytes; ++i) v |= uint64_t(Byte(what)) << (8 * i);
        return v;
    }
    std::string Text(size_t limit, const char* what) {
        const uint64_t n = Unsigned(what);
        if (!Ok()) return {};
        if (n > limit || n > Left()) return Fail(std::string(what) + " is too long"), std::string();
        std::string s(reinterpret_cast<const char*>(in_.data() + pos_), size_t(n));
        pos_ += size_t(n);
        return s;
    }

  private:
    static std::string Short(const char* what) {
        return std::string("the file ends inside ") + what + " (truncated?)";
    }
    std::span<const uint8_t> in_;
    size_t pos_ = 0;
    std::string error_;
};

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

}  // namespace

std::string GameVersion() {
    return KORDAVEL_VERSION;
}

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

std::vector<uint8_t> Encode(const Replay& replay) {
    Writer w;
    const Header& h = replay.header;
    w.out.assign(std::begin(kMagic), std::end(kMagic));
    w.Fixed(h.formatVersion, 2);
    w.Text(h.gameVersion);
    for (const DataFile& file : h.data) {
        w.Unsigned(file.size);
        w.Fixed(file.hash, 8);
    }
    WriteSettings(w, h.start);
    w.Byte(h.mode);
    w.Signed(h.stage);
    w.Unsigned(uint64_t(h.watchFrom));
    w.Unsigned(uint64_t(h.ticks));
    for (const Event& e : replay.events) {
        // Short runs of ticks, the most common event, take one byte.
        if (e.kind == Event::Ticks && e.a >= 1 && e.a <= 128) {
            w.Byte(uint8_t(0x80 | (e.a - 1)));
            continue;
        }
        w.Byte(e.kind);
        switch (e.kind) {
            case Event::Ticks:
            case Event::Input:
            case Event::Menu:
                w.Unsigned(uint64_t(e.a));
                break;
            case Event::Key:
                w.Signed(e.a);
                break;
            case Event::Settings:
                WriteSettings(w, replay.settings.at(size_t(e.a)));
                break;
            case Event::Clock:
                w.Signed(e.a);  // already a difference from the reading before
                break;
            case Event::SelectOk:
                w.Signed(e.a);
                w.Byte(uint8_t(e.b));
                break;
            case Event::OptionsOk:
                break;
            case Event::Dialogs:
                WriteDialogs(w, replay.dialogs.at(size_t(e.a)));
                break;
        }
    }
    w.Byte(kEnd);
    w.Fixed(Crc32(w.out), 4);
    return w.out;
}

DecodeResult Decode(std::span<const uint8_t> bytes, bool checkSum) {
    DecodeResult result;
    auto fail = [&](const std::string& why) {
        result.error = why;
        return result;
    };
    if (bytes.size() > kMaxFileBytes) return fail("the file is too large to be a replay");
    if (bytes.size() < sizeof kMagic || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0)
        return fail("this is not a Kordavel replay");
    if (bytes.size() < sizeof kMagic + 2 + 4)
        return fail("the file ends inside the header (truncated?)");
    Reader r(bytes.subspan(0, bytes.size() - 4));
    r.Fixed(sizeof kMagic, "the header");
    Replay replay;
    Header& h = replay.header;
    h.formatVersion = uint16_t(r.Fixed(2, "the header"));
    if (h.formatVersion != kFormatVersion)
        return fail("the replay is of format " + std::to_string(h.formatVersion) +
                    "; this program reads format " + std::to_string(kFormatVersion));
    if (checkSum) {
        const uint32_t stored =
            uint32_t(bytes[bytes.size() - 4]) | uint32_t(bytes[bytes.size() - 3]) << 8 |
            uint32_t(bytes[bytes.size() - 2]) << 16 | uint32_t(bytes[bytes.size() - 1]) << 24;
        if (Crc32(bytes.subspan(0, bytes.size() - 4)) != stored)
            return fail("the file is damaged or truncated (its checksum does not match)");
    }
    h.gameVersion = r.Text(kMaxVersionBytes, "the game version");
    for (DataFile& file : h.data) {
        file.size = r.Unsigned("the data files");
        file.hash = r.Fixed(8, "the data files");
    }
    h.start = ReadSettings(r);
    h.mode = r.Byte("the header");
    if (h.mode > 3 && h.mode != kNoMode) r.Fail("the header names an unknown game mode");
    h.stage = r.Int32("the header");
    const uint64_t watchFrom = r.Unsigned("the header");
    const uint64_t ticks = r.Unsigned("the header");
    if (ticks > uint64_t(INT32_MAX) || watchFrom > ticks)
        r.Fail("the header's tick counts do not fit together");
    h.watchFrom = int64_t(watchFrom);
    h.ticks = int64_t(ticks);

    uint64_t ran = 0;
    for (;;) {
        const uint8_t kind = r.Byte("the input stream");
        if (!r.Ok() || kind == kEnd) break;
        Event e;
        e.kind = Event::Kind(kind);
        if (kind & 0x80) {
            e.kind = Event::Ticks;
            e.a = (kind & 0x7F) + 1;
            if (uint64_t(e.a) > ticks - ran) r.Fail("the stream has more ticks than its header");
            ran += uint64_t(e.a);
            if (!r.Ok()) break;
            replay.events.push_back(e);
            continue;
        }
        switch (kind) {
            case Event::Ticks:
                e.a = int64_t(r.Unsigned("the input stream"));
                if (e.a == 0 || uint64_t(e.a) > ticks - ran)
                    r.Fail("the stream has more ticks than its header");
                ran += uint64_t(e.a);
                break;
            case Event::Input:
                e.a = int64_t(r.Unsigned("the input stream"));
                if (uint64_t(e.a) >> (kBindingSlots + 1)) r.Fail("an input mask has unknown bits");
                break;
            case Event::Key:
                e.a = r.Int32("the input stream");
                break;
            case Event::Menu:
                e.a = int64_t(r.Unsigned("the input stream"));
                if (uint64_t(e.a) >= kMenuItems.size())
                    r.Fail("the stream names an unknown menu item");
                break;
            case Event::Settings:
                replay.settings.push_back(ReadSettings(r));
                e.a = int64_t(replay.settings.size() - 1);
                break;
            case Event::Clock:
                e.a = r.Int32("the input stream");
                break;
            case Event::SelectOk:
                e.a = r.Int32("the input stream");
                e.b = r.Byte("the input stream");
                if (e.b > 2) r.Fail("a level selection names an unknown game");
                if (e.a < 1 || e.a > 0xFFFF) r.Fail("a level selection names an impossible stage");
                break;
            case Event::OptionsOk:
                break;
            case Event::Dialogs:
                replay.dialogs.push_back(ReadDialogs(r));
                e.a = int64_t(replay.dialogs.size() - 1);
                break;
            default:
                r.Fail("the stream holds an unknown event (" + std::to_string(kind) + ")");
                break;
        }
        if (!r.Ok()) break;
        replay.events.push_back(e);
    }
    if (r.Ok() && ran != ticks)
        r.Fail("the stream ends before the ticks its header counts (truncated?)");
    if (r.Ok() && r.Left() != 0) r.Fail("there are bytes after the end of the stream");
    if (!r.Ok()) return fail(r.Error());
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
