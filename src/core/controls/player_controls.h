#pragma once
// How the players' keyboard and joystick bindings are tested and turned into tank commands,
// the scans of the key-capture dialog, the names shown for codes, and the explosion jolt.
#include <cstdint>
#include <string>

#include "core/controls/settings.h"

namespace kdv {

struct Game;

// Keyboard bindings are Windows virtual-key codes; only 1..123 can be down.
bool IsKeyDown(const Game& game, int32_t code);
// Joystick states 0..35; 36..39 and any code whose low byte is 40 or more are never on.
bool IsJoyStateOn(const Game& game, int32_t code);
// Whether the player's keyboard (or joystick) binding for the action is down.
bool IsBindingDown(const Game& game, int player, bool joystick, int action);
// Whether the game ever reads the binding: both players' directions and Fire, player 1's Start
// (keyboard or joystick) and player 1's keyboard Pause. The others are kept but never read.
bool BindingIsRead(int player, bool joystick, int action);
// Whether a binding the game reads is this key.
bool KeyIsBound(const Settings& settings, int32_t code);
void ReadPlayerControls(Game& game, int player);
int ScanKeyboard(const Game& game);  // lowest code down, 0 if none
int ScanJoystick(const Game& game);  // lowest state on, 36 if none
std::string KeyName(int32_t code);
std::string JoystickName(int32_t code);
// Resets the first six bindings of every row; the Pause bindings stay.
void SetDefaultBindings(Settings& settings);
void ExplosionJolt(Game& game, int x, int y);

}  // namespace kdv
