#include "core/controls/player_controls.h"

#include <algorithm>
#include <cmath>

#include "core/game.h"

namespace kdv {
namespace {

struct NamedKey {
    int code;
    const char* name;
};

// The names shown for keyboard codes 1..111; any other code shows "N/A".
constexpr NamedKey kKeyNames[] = {
    {8, "BackSpace"},
    {9, "Tab"},
    {13, "Enter"},
    {16, "Shift"},
    {17, "Ctrl"},
    {18, "Alt"},
    {27, "Esc"},
    {32, "Space"},
    {33, "PageUp"},
    {34, "PageDown"},
    {35, "End"},
    {36, "Home"},
    {37, "Left"},
    {38, "Up"},
    {39, "Right,\""},
    {40, "Down"},
    {42, "Gray *"},
    {44, "<"},
    {45, "Insert"},
    {46, "Delete,>"},
    {47, "?"},
    {59, ";"},
    {61, "="},
    {63, "NA"},
    {65, "A"},
    {91, "["},
    {92, "\\"},
    {93, "]"},
    {96, "Gray Insert"},
    {97, "Gray End"},
    {98, "Gray Down"},
    {99, "Gray PageDown"},
    {100, "Gray Left"},
    {101, "Gray 5"},
    {102, "Gray Right"},
    {103, "Gray Home"},
    {104, "Gray Up"},
    {105, "Gray PageUp"},
    {107, "Gray +"},
    {109, "Gray -"},
    {110, "Gray Delete"},
    {111, "Gray /"},
};

const BindingRow& KeyRow(const Settings& s, int player) {
    return player == 1 ? s.keys1 : s.keys2;
}
const BindingRow& JoyRow(const Settings& s, int player) {
    return player == 1 ? s.joystick1 : s.joystick2;
}

}  // namespace

bool IsKeyDown(const Game& game, int32_t code) {
    // Negative codes can come from an edited settings file; they are never down.
    if (code <= 0 || code > 123) return false;
    return game.io.input && game.io.input->KeyDown(code);
}

bool IsJoyStateOn(const Game& game, int32_t code) {
    const int state = code & 0xFF;
    if (state >= kNoJoystickState) return false;
    return game.io.input && game.io.input->JoyStateOn(state);
}

bool IsBindingDown(const Game& game, int player, bool joystick, int action) {
    const int slot = ((player - 1) * 2 + (joystick ? 1 : 0)) * kActions + action;
    if (game.io.input)
        if (const auto down = game.io.input->SlotDown(slot)) return *down;
    const int32_t code =
        (joystick ? JoyRow(game.Settings, player) : KeyRow(game.Settings, player))[size_t(action)];
    return joystick ? IsJoyStateOn(game, code) : IsKeyDown(game, code);
}

bool BindingIsRead(int player, bool joystick, int action) {
    if (action >= MoveUp && action <= Fire) return true;
    if (action == Start) return player == 1;
    return action == Pause && player == 1 && !joystick;
}

bool KeyIsBound(const Settings& settings, int32_t code) {
    for (int player = 1; player <= 2; ++player)
        for (int action = 0; action < kActions; ++action)
            if (BindingIsRead(player, false, action) &&
                KeyRow(settings, player)[size_t(action)] == code)
                return true;
    return false;
}

void ReadPlayerControls(Game& game, int player) {
    PlayerTank& tank = game.Player(player);
    if (IsBindingDown(game, player, false, Fire)) CommandFire(game, tank);
    for (int action = MoveUp; action <= MoveRight; ++action) {
        if (IsBindingDown(game, player, false, action)) {
            CommandDirection(game, tank, uint8_t(action + 1));
            return;  // a held key hides the joystick for this frame
        }
    }
    if (IsBindingDown(game, player, true, Fire)) CommandFire(game, tank);
    for (int action = MoveUp; action <= MoveRight; ++action) {
        if (IsBindingDown(game, player, true, action)) {
            CommandDirection(game, tank, uint8_t(action + 1));
            return;
        }
    }
}

int ScanKeyboard(const Game& game) {
    for (int code = 0; code <= 123; ++code)
        if (IsKeyDown(game, code)) return code;
    return 0;
}

int ScanJoystick(const Game& game) {
    for (int state = 0; state < kNoJoystickState; ++state)
        if (IsJoyStateOn(game, state)) return state;
    return kNoJoystickState;
}

std::string KeyName(int32_t code) {
    if (code >= '0' && code <= '9') return std::string(1, char(code));
    if (code >= 'D' && code <= 'Z') return std::string(1, char(code));  // B and C have no name
    for (const NamedKey& key : kKeyNames)
        if (key.code == code) return key.name;
    return "N/A";
}

std::string JoystickName(int32_t code) {
    static const char* const kDirections[4] = {"Up", "Down", "Left", "Right"};
    const int state = code & 0xFF;
    if (state >= kNoJoystickState) return "N/A";
    if (state < 4) return kDirections[state];
    return "Button" + std::to_string(state - 3);
}

void SetDefaultBindings(Settings& settings) {
    const Settings defaults;
    for (int i = 0; i < Pause; ++i) {
        settings.keys1[size_t(i)] = defaults.keys1[size_t(i)];
        settings.joystick1[size_t(i)] = defaults.joystick1[size_t(i)];
        settings.keys2[size_t(i)] = defaults.keys2[size_t(i)];
        settings.joystick2[size_t(i)] = defaults.joystick2[size_t(i)];
    }
}

void ExplosionJolt(Game& game, int x, int y) {
    if (!game.Settings.forceFeedback || !game.io.input) return;
    JoltEffect effect;
    effect.fx = std::clamp(int(std::trunc((x - 160) * 10000 * 0.00625)), -10000, 10000);
    effect.fy = std::clamp(int(std::trunc((y - 100) * 10000 * 0.01)), -10000, 10000);
    game.io.input->PlayJolt(effect);
}

}  // namespace kdv
