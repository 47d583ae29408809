#pragma once
// Frames of drawing read from any bytes, played on two games at once: one whose screens note,
// keep and hold what they may, and one whose screens drop all of it after every step. Whatever
// the bytes, both must read and show the same at every step.
#include <bitset>
#include <cstdint>
#include <span>
#include <string>

namespace kdv {
struct Game;
}

namespace testkit {

// What the frames exercised, so that a test can tell that they did.
struct ScreenProgramCounts {
    long steps = 0;
    long frames = 0;
    long keptSprites = 0;      // sprites the cached frame did not draw again
    long partFills = 0;        // background fills that wrote only part of the screen
    long heldSkips = 0;        // overlay pieces the cached frame held instead of drawing
    std::bitset<128> sprites;  // the sprites drawn
};

// Plays `program` on `cached` and `plain`: two games started on the same data (sprite sheet,
// font, title picture), whose screens it starts from as they are. Returns the first difference
// found, naming the step and what was done, or an empty string.
std::string RunScreenProgram(std::span<const uint8_t> program, kdv::Game& cached, kdv::Game& plain,
                             ScreenProgramCounts* counts = nullptr);

}  // namespace testkit
