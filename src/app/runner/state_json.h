#pragma once
// The game's state as JSON, keyed by the records' own names, for dumps of the headless runner.
#include <cstdint>
#include <string>

namespace kdv {
struct Game;
}

namespace runner {

std::string StateJson(const kdv::Game& game, long tick);
// A hash of everything a dump and a screen show, and of the random seed: two games with the
// same hash are in the same state.
uint64_t StateHash(const kdv::Game& game, long tick);

}  // namespace runner
