// The replay reader on any bytes at all: it must answer with a replay or a message, never crash
// or read out of bounds, and what it accepts must write back to a file it reads the same. The
// header alone (a listing of kept games) and the stream read event by event (playback) must
// agree with the whole file's reading.
#include <cstdlib>

#include "replay/format.h"
#include "replay/game_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    replay::Decode(bytes, true);
    const auto header = replay::DecodeHeader(bytes);
    // Past the checksum, where a mutated file would otherwise always stop.
    const replay::DecodeResult result = replay::Decode(bytes, false);
    if (!result.replay) {
        if (result.error.empty()) std::abort();
        return 0;
    }
    const replay::Replay& r = *result.replay;
    if (!header || header->ticks != r.header.ticks || header->build != r.header.build)
        std::abort();
    // Playback reads the stream as it goes: every event Decode accepted reads again, and the
    // runs of ticks add up to the header's count.
    replay::EventReader events(r.stream);
    replay::Event e;
    int64_t ticks = 0;
    while (events.Next(e))
        if (e.kind == replay::Event::Ticks) ticks += e.a;
    if (!events.Error().empty() || ticks != r.header.ticks) std::abort();
    std::string why;
    if (r.header.from && !replay::CheckGameState(r.header.from->game, why)) std::abort();
    const std::vector<uint8_t> again = replay::Encode(r);
    const replay::DecodeResult second = replay::Decode(again, true);
    if (!second.replay || replay::Encode(*second.replay) != again) std::abort();
    return 0;
}
