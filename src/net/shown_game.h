#pragma once
// The game this player sees during a network game: the confirmed game run on ahead of the other
// player's input, which it guesses. When the real input differs from the guess, it starts again
// from the confirmed game and runs the guessed ticks once more. Only the last frame of such a
// correction is shown, and each sound or jolt of a tick is played once however often the tick
// runs: a tick run again plays only what its earlier runs did not.
#include <cstdint>
#include <memory>
#include <vector>

#include "core/platform/services.h"

namespace kdv {
struct Game;
}

namespace net {

class ShownGame {
  public:
    // display and sound are the player's (either may be null); jolts go to the player's input
    // device when joltsOn.
    ShownGame(kdv::FileSystem& files, kdv::Display* display, kdv::SoundDevice* sound,
              kdv::InputDevice* input, bool joltsOn);
    ~ShownGame();
    ShownGame(const ShownGame&) = delete;
    ShownGame& operator=(const ShownGame&) = delete;

    // Takes the confirmed game's state and the input it last read; the picture on screen is
    // kept, so the next frame shows what differs from it.
    void TakeState(const kdv::Game& confirmed, uint32_t mask);
    // Runs tick with both players' binding mask. quiet: its frame is not shown (a correction
    // has further ticks to run).
    void Run(int64_t tick, uint32_t mask, bool quiet);
    // Ticks before this one are confirmed and never run again.
    void Confirmed(int64_t before);
    const kdv::Game& Game() const { return *game_; }

  private:
    class Screen;
    class Effects;
    class Input;
    class TickClock;

    std::unique_ptr<Screen> screen_;
    std::unique_ptr<Effects> effects_;
    std::unique_ptr<Input> input_;
    std::unique_ptr<TickClock> clock_;
    std::unique_ptr<kdv::Window> window_;
    std::unique_ptr<kdv::Game> game_;
};

}  // namespace net
