#pragma once
// Little-endian numbers and LEB128 varints, written to a byte vector and read back with every
// read checked: the first failure sticks and names what was being read.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace replay {

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
    void Bytes(std::span<const uint8_t> bytes) {
        Unsigned(bytes.size());
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
};

class Reader {
  public:
    explicit Reader(std::span<const uint8_t> in) : in_(in) {}
    bool Ok() const { return error_.empty(); }
    const std::string& Error() const { return error_; }
    size_t Left() const { return in_.size() - pos_; }
    size_t Position() const { return pos_; }
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
    // A signed number that must lie in [low, high].
    int64_t Range(int64_t low, int64_t high, const char* what) {
        const int64_t v = Signed(what);
        if (Ok() && (v < low || v > high)) Fail(std::string("a value in ") + what + " is out of range");
        return Ok() ? v : 0;
    }
    int32_t Int32(const char* what) { return int32_t(Range(INT32_MIN, INT32_MAX, what)); }
    uint64_t Fixed(int bytes, const char* what) {
        uint64_t v = 0;
        for (int i = 0; i < bytes; ++i) v |= uint64_t(Byte(what)) << (8 * i);
        return v;
    }
    std::string Text(size_t limit, const char* what) {
        const auto bytes = Bytes(limit, what);
        return std::string(bytes.begin(), bytes.end());
    }
    std::span<const uint8_t> Bytes(size_t limit, const char* what) {
        const uint64_t n = Unsigned(what);
        if (!Ok()) return {};
        if (n > limit || n > Left()) return Fail(std::string(what) + " is too long"), std::span<const uint8_t>();
        const auto bytes = in_.subspan(pos_, size_t(n));
        pos_ += size_t(n);
        return bytes;
    }

  private:
    static std::string Short(const char* what) {
        return std::string("the file ends inside ") + what + " (truncated?)";
    }
    std::span<const uint8_t> in_;
    size_t pos_ = 0;
    std::string error_;
};

}  // namespace replay
