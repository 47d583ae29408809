#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "core/platform/services.h"
#include "core/screen/screen.h"

namespace kdv {

struct Game;

// What the work bitmap was last converted from, so that a presented frame looks only at the
// blocks written since and converts only the pixels that changed. Any change of table or size
// converts the whole frame.
struct PresentCache {
    bool valid = false;
    int width = 0;
    PixelTable table{};
    // The frame as converted, laid out as the screen buffer (pixels from kPresentOffset).
    alignas(16) std::array<uint8_t, kScreenBytes> frame{};
    std::array<uint32_t, 256> pairs{};  // the table's pixels doubled, for 640 x 400
    std::vector<PixelRun> runs;         // what changed in the frame presented last
};

// Converts every second frame into the 16-bit work bitmap and hands it to the display.
void PresentFrame(Game& game);

}  // namespace kdv
