#pragma once
// The game's state as JSON, keyed by the records' own names, for dumps of the headless runner.
#include <string>

namespace kdv {
struct Game;
}

namespace runner {

std::string StateJson(const kdv::Game& game, long tick);

}  // namespace runner
