#pragma once
// Drawing done in step on two games: one whose screens note, keep and hold what they may, and
// one whose screens drop all of it after every step. Whatever is drawn, both must read and
// present the same at every step. Frames of such drawing can be read from any bytes.
#include <bitset>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace kdv {
struct Game;
}

namespace testkit {

// What the steps exercised, so that a test can tell that they did.
struct ScreenProgramCounts {
    long steps = 0;
    long frames = 0;
    long keptSprites = 0;      // sprites the cached frame did not draw again
    long partFills = 0;        // background fills that wrote only part of the screen
    long heldSkips = 0;        // overlay pieces the cached frame held instead of drawing
    std::bitset<128> sprites;  // the sprites drawn
};

// Two games started on the same data (sprite sheet, font, title picture), drawn on in step
// from their screens as they are. Each step is done on both, then the plain game's screens
// drop every cache and the frames (and backgrounds, where asked) must read the same; the first
// difference, naming the step, is kept in Failure() and no further step is done.
class ScreenTwins {
  public:
    ScreenTwins(kdv::Game& cached, kdv::Game& plain, ScreenProgramCounts& counts);

    void Step(const std::string& what, const std::function<void(kdv::Game&)>& op,
              bool back = false);
    // A pixel, 16 bytes, 200 bytes and the look-aheads of tanks from drawing position (x, y).
    void Read(int x, int y);
    // A piece of an overlay the frame holds: a sprite, or a line of text in the 16 rows from y
    // (as the panel's lives counter is).
    struct Piece {
        int x = 0, y = 0;
        int sprite = 0;
        uint8_t colour = 0;
        bool text = false;
    };
    static constexpr int kMaxPieces = 4;  // more are not drawn
    void Overlay(const std::vector<Piece>& pieces);
    // As the game presents (converted every other time) and ends its tick: the frames' bytes
    // and the bitmaps must agree too.
    void Present();

    const std::string& Failure() const { return failure_; }
    kdv::Game& Cached() { return cached_; }

  private:
    void Fail(const std::string& what, const std::string& how);
    std::string Compare(bool back);

    kdv::Game &cached_, &plain_;
    ScreenProgramCounts& counts_;
    long step_ = 0, tick_ = 1;
    std::string failure_;
    std::vector<uint8_t> readA_, readB_;
};

// Plays `program` as ticks of drawing on the twins: a scene of sprites and text drawn every
// tick and changing a little between ticks, with fills, copies, reads and other drawing among
// them, and an overlay. Returns the first difference found, or an empty string.
std::string RunScreenProgram(std::span<const uint8_t> program, kdv::Game& cached, kdv::Game& plain,
                             ScreenProgramCounts* counts = nullptr);

}  // namespace testkit
