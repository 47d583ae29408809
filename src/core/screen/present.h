#pragma once

#include <array>
#include <cstdint>

#include "core/screen/screen.h"

namespace kdv {

struct Game;

// What the work bitmap was last converted from, so that a presented frame converts only the
// pixels that changed since. Any change of table or size converts the whole frame.
struct PresentCache {
    bool valid = false;
    int width = 0;
    PixelTable table{};
    std::array<uint8_t, kScreenPixels> frame{};
};

// Converts every second frame into the 16-bit work bitmap and hands it to the display.
void PresentFrame(Game& game);

}  // namespace kdv
