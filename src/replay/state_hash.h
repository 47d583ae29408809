#pragma once
// The game's state as JSON, keyed by the records' own names (the runner's dumps), and a hash of
// it: replays store the hash as checkpoints, the runner prints it.
#include <cstdint>
#include <string>

namespace kdv {
struct Game;
}

namespace replay {

std::string StateJson(const kdv::Game& game, long tick);
// A hash of everything a dump and a screen show, and of the random seed: two games with the
// same hash are in the same state.
uint64_t StateHash(const kdv::Game& game, long tick);
// The same state in a hash that is quicker to take (WideHash), for the checks made while a game
// runs; the printed hash stays StateHash, which earlier builds printed for the same games.
uint64_t QuickStateHash(const kdv::Game& game, long tick);

}  // namespace replay
