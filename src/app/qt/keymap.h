#pragma once
// Keys of the main window as Windows virtual-key codes, the codes the game's bindings are made
// of. The whole mapping is one table (keymap.cpp); see VirtualKeyFor for the order in which it
// is consulted.
#include <cstdint>
#include <span>

namespace app {

// Virtual-key codes the window itself needs by name.
namespace vk {
constexpr int kReturn = 13;
constexpr int kShift = 16;
constexpr int kControl = 17;
constexpr int kAlt = 18;
}  // namespace vk

// Where a row of the key table takes its key from.
enum class KeySource : uint8_t {
    Main,     // a Qt key code off the keypad (and, for keys only the keypad has, on it too)
    Keypad,   // a Qt key code with Qt::KeypadModifier
    X11Code,  // an X11 keycode (evdev + 8), for keys the Qt code does not settle
};

// One row: the keys first..last of the source map to vkFirst, vkFirst + 1, ...
struct KeyRow {
    KeySource source;
    uint32_t first;
    uint32_t last;
    int vkFirst;
};

std::span<const KeyRow> KeyTable();

// The virtual-key code of a key event, or 0 when the table has none. Keypad rows are tried
// first for keys with the keypad modifier, then the main rows by Qt key, then (when the
// native scan codes are X11 keycodes, as on xcb) the X11 rows by keycode: a letter typed
// under a Cyrillic layout or a symbol key shifted into another character still reaches the
// code of its key.
int VirtualKeyFor(int qtKey, bool keypad, uint32_t nativeScanCode, bool x11ScanCodes);

}  // namespace app
