#pragma once
// The state of a game that carries from one game to the next and changes play (the random seed,
// the clock, the pause guard, the field, the screens, ...), written compactly and read back, so
// that a kept game's replay can begin where the game began instead of at the program's start.
// The settings and the dialogs are not part of it: the header holds them.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kdv {
struct Game;
}

namespace replay {

std::vector<uint8_t> SaveGameState(const kdv::Game& game);
// False, with why, when the bytes are not a state SaveGameState wrote; the game is then
// partly overwritten.
bool LoadGameState(std::span<const uint8_t> bytes, kdv::Game& game, std::string& why);
bool CheckGameState(std::span<const uint8_t> bytes, std::string& why);

}  // namespace replay
