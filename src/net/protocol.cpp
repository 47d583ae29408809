#include "net/protocol.h"

namespace net {
namespace {

enum Type : uint8_t { tHello = 1, tRefuse, tPing, tPong, tWelcome, tInputs, tHash, tBye };
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
    bool AtEnd() const { return ok && pos_ == in_.size(); }

  private:
    std::span<const uint8_t> in_;
    size_t pos_ = 0;
};

void WriteIdentity(Writer& w, const Identity& id) {
    w.Text(id.gameVersion);
    for (const replay::DataFile& f : id.data) {
        w.Fixed(f.size, 8);
        w.Fixed(f.hash, 8);
    }
    w.Fixed(uint32_t(id.gameDifficulty), 4);
}

Identity ReadIdentity(Reader& r) {
    Identity id;
    id.gameVersion = r.Text();
    for (replay::DataFile& f : id.data) {
        f.size = r.Fixed(8);
        f.hash = r.Fixed(8);
    }
    id.gameDifficulty = int32_t(r.Fixed(4));
    return id;
}

}  // namespace

std::optional<std::string> Differences(const Identity& host, const Identity& joiner) {
    std::string out;
    auto add = [&](const std::string& what) { out += (out.empty() ? "" : "; ") + what; };
    if (host.gameVersion != joiner.gameVersion)
        add("the host runs Kordavel " + host.gameVersion + " and the joining player Kordavel " +
            joiner.gameVersion);
    for (size_t i = 0; i < host.data.size(); ++i)
        if (host.data[i].size != joiner.data[i].size || host.data[i].hash != joiner.data[i].hash)
            add(std::string("the data file \"") + replay::kDataFiles[i] + "\" differs");
    if (host.gameDifficulty != joiner.gameDifficulty)
        add("the difficulty differs (host " + std::to_string(host.gameDifficulty) +
            ", joining player " + std::to_string(joiner.gameDifficulty) + ")");
    if (out.empty()) return std::nullopt;
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
                WriteIdentity(w, m.identity);
            } else if constexpr (std::is_same_v<T, Refuse>) {
                w.Fixed(tRefuse, 1);
                w.Text(m.reason);
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
                w.Fixed(uint64_t(m.ticks), 8);
                w.Text(m.settings);
            } else if constexpr (std::is_same_v<T, Inputs>) {
                w.Fixed(tInputs, 1);
                w.Fixed(uint64_t(m.ack), 8);
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
            }
        },
        message);
    return std::move(w.out);
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
            h.identity = ReadIdentity(r);
            m = h;
            break;
        }
        case tRefuse:
            m = Refuse{r.Text()};
            break;
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
            w.ticks = r.Tick();
            w.settings = r.Text();
            if (w.delay < kMinDelay || w.delay > kMaxDelay || w.stage < 1) r.ok = false;
            m = w;
            break;
        }
        case tInputs: {
            Inputs in;
            in.ack = r.Tick();
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
        default:
            return std::nullopt;
    }
    if (!r.AtEnd()) return std::nullopt;
    return m;
}

}  // namespace net
