#pragma once
#include <cstdint>

namespace kdv {

struct Game;

// The game's one random generator: a linear congruential sequence from seed 0, never reseeded,
// so every run draws the same numbers. Returns 0 .. n - 1.
int32_t Random(Game& game, int32_t n);

}  // namespace kdv
