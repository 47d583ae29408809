#pragma once
// The sound bank with every wave cut to its first few samples. The sessions play on it: the
// silent device plays nothing, while copying and splitting the full 400 KB took a third of
// every run. It is also the sound target's small seed, every wave in its place.
#include <cstdint>
#include <vector>

namespace fuzz {

std::vector<uint8_t> ShortBank(const std::vector<uint8_t>& bank, uint32_t keepBytes = 64);

}  // namespace fuzz
