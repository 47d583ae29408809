// The replay reader on any bytes at all: it must answer with a replay or a message, never crash
// or read out of bounds, and what it accepts must write back to a file it reads the same.
#include <cstdlib>

#include "replay/format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    replay::Decode(bytes, true);
    // Past the checksum, where a mutated file would otherwise always stop.
    const replay::DecodeResult result = replay::Decode(bytes, false);
    if (!result.replay) {
        if (result.error.empty()) std::abort();
        return 0;
    }
    const std::vector<uint8_t> again = replay::Encode(*result.replay);
    const replay::DecodeResult second = replay::Decode(again, true);
    if (!second.replay || replay::Encode(*second.replay) != again) std::abort();
    return 0;
}
