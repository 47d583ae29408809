#include "net/protocol.h"

namespace net {
namespace {

enum Type : uint8_t {
    tHello = 1,
    tRefuse,
    tPing,
    tPong,
    tWelcome,
    tInputs,
    tHash,
    tBye,
    tStop,
    tChallenge,
    tWatch,
    tWatchInputs,
    tWatchAck,
    tResume,
};
constexpr uint8_t kMagic[4] = {'K', 'D', 'V', 'N'};

class Writer {
  public:
    std::vector<uint8_t> out;
    void Fixed(uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(v >> (8 * i)));
    }
    void Text(const std::string& s) {
        const size_t n = std::min(s.size(), kMaxText);
        Fixed(n, 2);
        out.insert(out.end(), s.begin(), s.begin() + long(n));
    }
    void Bytes(const std::array<uint8_t, 16>& b) { out.insert(out.end(), b.begin(), b.end()); }
    void Blob(const std::vector<uint8_t>& b) {
        const size_t n = std::min(b.size(), kMaxStateBytes);
        Fixed(n, 4);
        out.insert(out.end(), b.begin(), b.begin() + long(n));
    }
    void Masks(const std::vector<uint16_t>& m) {
        const size_t n = std::min(m.size(), kMaxResumeInputs);
        Fixed(n, 2);
        for (size_t i = 0; i < n; ++i) Fixed(m[i], 2);
    }
    void Levels(const std::vector<uint8_t>& b) {
        const size_t n = std::min(b.size(), kMaxLevelBytes);
        Fixed(n, 2);
        out.insert(out.end(), b.begin(), b.begin() + long(n));
    }
};

// The first failure sticks; a message that fails anywhere is dropped as a whole.
class Reader {
  public:
    explicit Reader(std::span<const uint8_t> in) : in_(in) {}
    bool ok = true;
    uint64_t Fixed(int bytes) {
        if (!ok || in_.size() - pos_ < size_t(bytes)) {
            ok = false;
            return 0;
        }
        uint64_t v = 0;
        for (int i = 0; i < bytes; ++i) v |= uint64_t(in_[pos_++]) << (8 * i);
        return v;
    }
    int64_t Tick() {
        const int64_t v = int64_t(Fixed(8));
        if (v < 0 || v > (int64_t(1) << 40)) ok = false;  // far beyond any game
        return v;
    }
    std::string Text() {
        const size_t n = size_t(Fixed(2));
        if (!ok || n > kMaxText || in_.size() - pos_ < n) {
            ok = false;
            return {};
        }
        std::string s(reinterpret_cast<const char*>(in_.data() + pos_), n);
        pos_ += n;
        return s;
    }
    std::array<uint8_t, 16> Bytes() {
        std::array<uint8_t, 16> b{};
        for (uint8_t& x : b) x = uint8_t(Fixed(1));
        return b;
    }
    std::string Name() {
        std::string s = Text();
        if (s.size() > kMaxNameText) ok = false;
        return s;
    }
    std::vector<uint8_t> Blob() {
        const size_t n = size_t(Fixed(4));
        if (!ok || n > kMaxStateBytes || in_.size() - pos_ < n) {
            ok = false;
            return {};
        }
        std::vector<uint8_t> b(in_.begin() + long(pos_), in_.begin() + long(pos_ + n));
        pos_ += n;
        return b;
    }
    std::vector<uint16_t> Masks() {
        const size_t n = size_t(Fixed(2));
        if (n > kMaxResumeInputs) ok = false;
        std::vector<uint16_t> m;
        for (size_t i = 0; ok && i < n; ++i) {
            m.push_back(uint16_t(Fixed(2)));
            if (m.back() & ~kPlayerMask) ok = false;
        }
        return m;
    }
    // Whole level records only.
    std::vector<uint8_t> Levels() {
        const size_t n = size_t(Fixed(2));
        if (!ok || n > kMaxLevelBytes || n % kdv::kLevelRecordBytes || in_.size() - pos_ < n) {
            ok = false;
            return {};
        }
        std::vector<uint8_t> b(in_.begin() + long(pos_), in_.begin() + long(pos_ + n));
        pos_ += n;
        return b;
    }
    bool AtEnd() const { return ok && pos_ == in_.size(); }

  private:
    std::span<const uint8_t> in_;
    size_t pos_ = 0;
};

void WriteFile(Writer& w, const replay::DataFile& f) {
    w.Fixed(f.size, 8);
    w.Fixed(f.hash, 8);
}

replay::DataFile ReadFile(Reader& r) {
    replay::DataFile f;
    f.size = r.Fixed(8);
    f.hash = r.Fixed(8);
    return f;
}

}  // namespace

// The one comparison that decides whether two machines may play together.
uint8_t Mismatches(const Identity& host, const Identity& joiner) {
    uint8_t what = 0;
    if (host.build != joiner.build) what |= kOtherBuild;
    if (host.graphics.size != joiner.graphics.size || host.graphics.hash != joiner.graphics.hash)
        what |= kOtherGraphics;
    if (host.font.size != joiner.font.size || host.font.hash != joiner.font.hash)
        what |= kOtherFont;
    return what;
}

std::string MismatchText(uint8_t what, const std::string& hostBuild, const std::string& joinerBuild,
                         bool toJoiner) {
    const std::string whose = toJoiner ? "your " : "their ";
    const std::string other = toJoiner ? " differs from the host's" : " differs from yours";
    std::string out;
    auto add = [&](const std::string& s) { out += (out.empty() ? "" : "; ") + s; };
    if (what & kOtherProtocol)
        add(toJoiner ? "your copy of Kordavel cannot talk to the host's (another network version)"
                     : "their copy of Kordavel cannot talk to yours (another network version)");
    if (what & kOtherBuild)
        add(toJoiner ? "you run Kordavel " + joinerBuild + ", the host Kordavel " + hostBuild
                     : "they run Kordavel " + joinerBuild + ", you Kordavel " + hostBuild);
    if (what & kOtherGraphics) add(whose + "graphics file" + other);
    if (what & kOtherFont) add(whose + "font file" + other);
    if (what & kNotThisSeat)
        add(toJoiner ? "the seat you asked for is not yours (or its game is over)"
                     : "they asked for a seat that is not theirs");
    return out;
}

std::vector<uint8_t> Encode(const Message& message) {
    Writer w;
    std::visit(
        [&w](const auto& m) {
            using T = std::decay_t<decltype(m)>;
            if constexpr (std::is_same_v<T, Hello>) {
                w.Fixed(tHello, 1);
                w.out.insert(w.out.end(), std::begin(kMagic), std::end(kMagic));
                w.Fixed(m.protocol, 4);
                w.Text(m.identity.build);
                WriteFile(w, m.identity.graphics);
                WriteFile(w, m.identity.font);
                w.out.insert(w.out.end(), m.proof.begin(), m.proof.end());
                w.Text(m.name.substr(0, kMaxNameText));
                w.Bytes(m.game);
                w.Bytes(m.token);
                w.Fixed(m.keeps ? 1 : 0, 1);
                w.Fixed(uint8_t(m.role), 1);
            } else if constexpr (std::is_same_v<T, Challenge>) {
                w.Fixed(tChallenge, 1);
                w.out.insert(w.out.end(), m.nonce.begin(), m.nonce.end());
            } else if constexpr (std::is_same_v<T, Refuse>) {
                w.Fixed(tRefuse, 1);
                w.Fixed(m.what, 1);
                w.Text(m.hostBuild);
            } else if constexpr (std::is_same_v<T, Ping>) {
                w.Fixed(tPing, 1);
                w.Fixed(m.sequence, 4);
            } else if constexpr (std::is_same_v<T, Pong>) {
                w.Fixed(tPong, 1);
                w.Fixed(m.sequence, 4);
            } else if constexpr (std::is_same_v<T, Welcome>) {
                w.Fixed(tWelcome, 1);
                w.Fixed(m.mode, 1);
                w.Fixed(uint32_t(m.stage), 4);
                w.Fixed(m.delay, 1);
                w.Fixed(m.window, 1);
                w.Fixed(uint64_t(m.ticks), 8);
                w.Text(m.settings);
                w.Levels(m.levels);
                w.Bytes(m.game);
                w.Bytes(m.token);
                w.Text(m.hostName.substr(0, kMaxNameText));
            } else if constexpr (std::is_same_v<T, Inputs>) {
                w.Fixed(tInputs, 1);
                w.Fixed(uint64_t(m.ack), 8);
                w.Fixed(uint8_t(m.ahead), 1);
                w.Fixed(uint64_t(m.first), 8);
                const size_t n = std::min(m.masks.size(), kMaxInputsPerPacket);
                w.Fixed(n, 1);
                for (size_t i = 0; i < n; ++i) w.Fixed(m.masks[i], 2);
            } else if constexpr (std::is_same_v<T, Hash>) {
                w.Fixed(tHash, 1);
                w.Fixed(uint64_t(m.tick), 8);
                w.Fixed(m.hash, 8);
            } else if constexpr (std::is_same_v<T, Bye>) {
                w.Fixed(tBye, 1);
                w.Fixed(uint64_t(m.final), 8);
                w.Text(m.reason);
            } else if constexpr (std::is_same_v<T, Stop>) {
                w.Fixed(tStop, 1);
                w.Fixed(uint64_t(m.final), 8);
            } else if constexpr (std::is_same_v<T, Watch>) {
                w.Fixed(tWatch, 1);
                w.Fixed(uint64_t(m.from), 8);
                w.Fixed(m.mode, 1);
                w.Fixed(uint32_t(m.stage), 4);
                w.Fixed(uint64_t(m.ticks), 8);
                w.Text(m.settings);
                w.Levels(m.levels);
                w.Text(m.host);
                w.Fixed(uint32_t(m.position), 4);
                w.Fixed(uint32_t(m.gameItem), 4);
                w.Fixed(m.mask, 4);
                w.Blob(m.state);
            } else if constexpr (std::is_same_v<T, WatchInputs>) {
                w.Fixed(tWatchInputs, 1);
                w.Fixed(uint64_t(m.first), 8);
                w.Fixed(m.watching, 1);
                const size_t n = std::min(m.masks.size(), kMaxWatchInputs);
                w.Fixed(n, 2);
                for (size_t i = 0; i < n; ++i) w.Fixed(m.masks[i], 4);
            } else if constexpr (std::is_same_v<T, WatchAck>) {
                w.Fixed(tWatchAck, 1);
                w.Fixed(uint64_t(m.tick), 8);
            } else if constexpr (std::is_same_v<T, Resume>) {
                w.Fixed(tResume, 1);
                w.Fixed(uint64_t(m.tick), 8);
                w.Fixed(uint64_t(m.ahead), 8);
                w.Blob(m.state);
                w.Fixed(uint32_t(m.position), 4);
                w.Fixed(m.gameItem, 1);
                w.Fixed(m.mask, 4);
                w.Masks(m.host);
                w.Masks(m.joiner);
            }
        },
        message);
    return std::move(w.out);
}

std::optional<uint32_t> HelloProtocol(std::span<const uint8_t> bytes) {
    Reader r(bytes);
    if (r.Fixed(1) != tHello) return std::nullopt;
    for (uint8_t c : kMagic)
        if (r.Fixed(1) != c) return std::nullopt;
    const uint32_t protocol = uint32_t(r.Fixed(4));
    if (!r.ok) return std::nullopt;
    return protocol;
}

std::optional<Message> Decode(std::span<const uint8_t> bytes) {
    Reader r(bytes);
    const uint8_t type = uint8_t(r.Fixed(1));
    std::optional<Message> m;
    switch (type) {
        case tHello: {
            Hello h;
            for (uint8_t c : kMagic)
                if (r.Fixed(1) != c) r.ok = false;
            h.protocol = uint32_t(r.Fixed(4));
            h.identity.build = r.Text();
            h.identity.graphics = ReadFile(r);
            h.identity.font = ReadFile(r);
            for (uint8_t& b : h.proof) b = uint8_t(r.Fixed(1));
            h.name = r.Name();
            h.game = r.Bytes();
            h.token = r.Bytes();
            const uint64_t keeps = r.Fixed(1);
            if (keeps > 1) r.ok = false;
            h.keeps = keeps == 1;
            const uint8_t role = uint8_t(r.Fixed(1));
            if (role > uint8_t(Role::Spectator)) r.ok = false;
            h.role = Role(role);
            m = h;
            break;
        }
        case tChallenge: {
            Challenge c;
            for (uint8_t& b : c.nonce) b = uint8_t(r.Fixed(1));
            m = c;
            break;
        }
        case tRefuse: {
            Refuse f;
            f.what = uint8_t(r.Fixed(1));
            f.hostBuild = r.Text();
            if (f.what == 0 || f.what > 0x1F) r.ok = false;
            m = f;
            break;
        }
        case tPing:
            m = Ping{uint32_t(r.Fixed(4))};
            break;
        case tPong:
            m = Pong{uint32_t(r.Fixed(4))};
            break;
        case tWelcome: {
            Welcome w;
            w.mode = uint8_t(r.Fixed(1));
            w.stage = int32_t(r.Fixed(4));
            w.delay = uint8_t(r.Fixed(1));
            w.window = uint8_t(r.Fixed(1));
            w.ticks = r.Tick();
            w.settings = r.Text();
            w.levels = r.Levels();
            w.game = r.Bytes();
            w.token = r.Bytes();
            w.hostName = r.Name();
            if (w.levels.empty()) r.ok = false;
            if (w.delay < kMinDelay || w.delay > kMaxDelay || w.stage < 1 || w.window > kMaxWindow)
                r.ok = false;
            m = w;
            break;
        }
        case tInputs: {
            Inputs in;
            in.ack = r.Tick();
            in.ahead = int8_t(uint8_t(r.Fixed(1)));
            in.first = r.Tick();
            const size_t n = size_t(r.Fixed(1));
            if (n == 0 || n > kMaxInputsPerPacket || in.first < 1) r.ok = false;
            for (size_t i = 0; r.ok && i < n; ++i) {
                const uint16_t mask = uint16_t(r.Fixed(2));
                if (mask & ~kPlayerMask) r.ok = false;
                in.masks.push_back(mask);
            }
            m = in;
            break;
        }
        case tHash: {
            Hash h;
            h.tick = r.Tick();
            h.hash = r.Fixed(8);
            m = h;
            break;
        }
        case tBye: {
            Bye b;
            b.final = r.Tick();
            b.reason = r.Text();
            m = b;
            break;
        }
        case tStop: {
            Stop s;
            s.final = r.Tick();
            m = s;
            break;
        }
        case tWatch: {
            Watch w;
            w.from = r.Tick();
            w.mode = uint8_t(r.Fixed(1));
            w.stage = int32_t(r.Fixed(4));
            w.ticks = r.Tick();
            w.settings = r.Text();
            w.levels = r.Levels();
            w.host = r.Text();
            w.position = int32_t(r.Fixed(4));
            w.gameItem = int32_t(r.Fixed(4));
            w.mask = uint32_t(r.Fixed(4));
            w.state = r.Blob();
            if (w.levels.empty() || w.stage < 1 || (w.from > 0) == w.state.empty() ||
                w.mask >> (2 * kPlayerBits) || w.gameItem < 0 || w.gameItem > 2)
                r.ok = false;
            m = w;
            break;
        }
        case tWatchInputs: {
            WatchInputs in;
            in.first = r.Tick();
            in.watching = uint8_t(r.Fixed(1));
            const size_t n = size_t(r.Fixed(2));
            if (n > kMaxWatchInputs || in.first < 1) r.ok = false;
            for (size_t i = 0; r.ok && i < n; ++i) {
                const uint32_t mask = uint32_t(r.Fixed(4));
                if (mask >> (2 * kPlayerBits)) r.ok = false;
                in.masks.push_back(mask);
            }
            m = in;
            break;
        }
        case tWatchAck:
            m = WatchAck{r.Tick()};
            break;
        case tResume: {
            Resume s;
            s.tick = r.Tick();
            s.ahead = r.Tick();
            s.state = r.Blob();
            s.position = int32_t(r.Fixed(4));
            s.gameItem = uint8_t(r.Fixed(1));
            s.mask = uint32_t(r.Fixed(4));
            s.host = r.Masks();
            s.joiner = r.Masks();
            if (s.state.empty() || s.ahead < s.tick || s.position < 1 || s.gameItem > 2)
                r.ok = false;
            m = s;
            break;
        }
        default:
            return std::nullopt;
    }
    if (!r.AtEnd()) return std::nullopt;
    return m;
}

}  // namespace net
