#include "fuzz/short_bank.h"

#include <algorithm>
#include <cstring>

namespace fuzz {
namespace {

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

}  // namespace

// Walks the waves as the compiler lays them out (44-byte header, then samples, a pad byte
// after an odd size); anything else is copied as it stands.
std::vector<uint8_t> ShortBank(const std::vector<uint8_t>& bank, uint32_t keepBytes) {
    std::vector<uint8_t> out;
    size_t pos = 0;
    while (bank.size() - pos >= 44) {
        const uint8_t* p = bank.data() + pos;
        const uint64_t total = 8 + uint64_t(Le32(p + 4));
        const uint32_t data = Le32(p + 40);
        if (std::memcmp(p, "RIFF", 4) != 0 || std::memcmp(p + 36, "data", 4) != 0 ||
            total > bank.size() - pos || data != total - 44)
            break;
        const uint32_t kept = std::min(data, keepBytes & ~1u);
        const size_t at = out.size();
        out.insert(out.end(), p, p + 44 + kept);
        PutLe32(out.data() + at + 4, 36 + kept);
        PutLe32(out.data() + at + 40, kept);
        pos += size_t(total) + (total & 1);
        pos = std::min(pos, bank.size());
    }
    out.insert(out.end(), bank.begin() + long(pos), bank.end());
    return out;
}

}  // namespace fuzz
