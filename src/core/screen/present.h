#pragma once

namespace kdv {

struct Game;

// Converts every second frame into the 16-bit work bitmap and hands it to the display.
void PresentFrame(Game& game);

}  // namespace kdv
