#include "app/qt/keymap.h"

#include <Qt>
#include <array>

namespace app {
namespace {

using enum KeySource;

constexpr KeyRow Key(Qt::Key key, int code) {
    return {Main, uint32_t(key), uint32_t(key), code};
}
constexpr KeyRow Keys(Qt::Key first, Qt::Key last, int code) {
    return {Main, uint32_t(first), uint32_t(last), code};
}
constexpr KeyRow Pad(Qt::Key key, int code) {
    return {Keypad, uint32_t(key), uint32_t(key), code};
}
constexpr KeyRow X11(uint32_t keycode, int code) {
    return {X11Code, keycode, keycode, code};
}

// The key table. Windows virtual-key codes, as Windows gives them for a US keyboard; a shifted
// symbol counts as its key (Shift+1 is "1", Shift+; is 186), since the game binds keys, not
// characters.
constexpr auto kTable = std::to_array<KeyRow>({
    // Keys of the main block and the cursor and function keys.
    Key(Qt::Key_Backspace, 8),
    Key(Qt::Key_Tab, 9),
    Key(Qt::Key_Backtab, 9),  // Shift+Tab
    Key(Qt::Key_Clear, 12),
    Key(Qt::Key_Return, 13),
    Key(Qt::Key_Enter, 13),
    Key(Qt::Key_Shift, 16),  // left and right
    Key(Qt::Key_Control, 17),
    Key(Qt::Key_Alt, 18),
    Key(Qt::Key_AltGr, 18),  // right Alt on layouts with a third level
    Key(Qt::Key_Pause, 19),
    Key(Qt::Key_CapsLock, 20),
    Key(Qt::Key_Escape, 27),
    Key(Qt::Key_Space, 32),
    Key(Qt::Key_PageUp, 33),
    Key(Qt::Key_PageDown, 34),
    Key(Qt::Key_End, 35),
    Key(Qt::Key_Home, 36),
    Keys(Qt::Key_Left, Qt::Key_Down, 37),  // Left 37, Up 38, Right 39, Down 40
    Key(Qt::Key_Print, 44),
    Key(Qt::Key_Insert, 45),
    Key(Qt::Key_Delete, 46),
    Keys(Qt::Key_0, Qt::Key_9, 48),
    Key(Qt::Key_ParenRight, 48),  // Shift+0
    Key(Qt::Key_Exclam, 49),      // Shift+1 .. Shift+9
    Key(Qt::Key_At, 50),
    Key(Qt::Key_NumberSign, 51),
    Key(Qt::Key_Dollar, 52),
    Key(Qt::Key_Percent, 53),
    Key(Qt::Key_AsciiCircum, 54),
    Key(Qt::Key_Ampersand, 55),
    Key(Qt::Key_Asterisk, 56),
    Key(Qt::Key_ParenLeft, 57),
    Keys(Qt::Key_A, Qt::Key_Z, 65),
    Key(Qt::Key_Super_L, 91),
    Key(Qt::Key_Super_R, 92),
    Key(Qt::Key_Menu, 93),
    Keys(Qt::Key_F1, Qt::Key_F24, 112),  // F1 112 .. F12 123, F13 124 .. F24 135
    Key(Qt::Key_NumLock, 144),
    Key(Qt::Key_ScrollLock, 145),
    Key(Qt::Key_Semicolon, 186),
    Key(Qt::Key_Colon, 186),
    Key(Qt::Key_Equal, 187),
    Key(Qt::Key_Plus, 187),
    Key(Qt::Key_Comma, 188),
    Key(Qt::Key_Less, 188),
    Key(Qt::Key_Minus, 189),
    Key(Qt::Key_Underscore, 189),
    Key(Qt::Key_Period, 190),
    Key(Qt::Key_Greater, 190),
    Key(Qt::Key_Slash, 191),
    Key(Qt::Key_Question, 191),
    Key(Qt::Key_QuoteLeft, 192),
    Key(Qt::Key_AsciiTilde, 192),
    Key(Qt::Key_BracketLeft, 219),
    Key(Qt::Key_BraceLeft, 219),
    Key(Qt::Key_Backslash, 220),
    Key(Qt::Key_Bar, 220),
    Key(Qt::Key_BracketRight, 221),
    Key(Qt::Key_BraceRight, 221),
    Key(Qt::Key_Apostrophe, 222),
    Key(Qt::Key_QuoteDbl, 222),

    // The keypad: digits 96..105 with NumLock on, and the same codes for its cursor keys with
    // NumLock off (keypad 5 is Clear then).
    {Keypad, uint32_t(Qt::Key_0), uint32_t(Qt::Key_9), 96},
    Pad(Qt::Key_Insert, 96),
    Pad(Qt::Key_End, 97),
    Pad(Qt::Key_Down, 98),
    Pad(Qt::Key_PageDown, 99),
    Pad(Qt::Key_Left, 100),
    Pad(Qt::Key_Clear, 101),
    Pad(Qt::Key_Right, 102),
    Pad(Qt::Key_Home, 103),
    Pad(Qt::Key_Up, 104),
    Pad(Qt::Key_PageUp, 105),
    Pad(Qt::Key_Asterisk, 106),
    Pad(Qt::Key_Plus, 107),
    Pad(Qt::Key_Minus, 109),
    Pad(Qt::Key_Period, 110),
    Pad(Qt::Key_Comma, 110),  // the decimal key of some layouts
    Pad(Qt::Key_Delete, 110),
    Pad(Qt::Key_Slash, 111),
    Pad(Qt::Key_Enter, 13),
    Pad(Qt::Key_Return, 13),
    Pad(Qt::Key_NumLock, 144),

    // X11 keycodes of the main block (evdev code + 8), by position on a US keyboard.
    X11(9, 27),             // Escape
    {X11Code, 10, 18, 49},  // 1 .. 9
    X11(19, 48),            // 0
    X11(20, 189),           // -
    X11(21, 187),           // =
    X11(22, 8),             // BackSpace
    X11(23, 9),             // Tab
    X11(24, 'Q'),
    X11(25, 'W'),
    X11(26, 'E'),
    X11(27, 'R'),
    X11(28, 'T'),
    X11(29, 'Y'),
    X11(30, 'U'),
    X11(31, 'I'),
    X11(32, 'O'),
    X11(33, 'P'),
    X11(34, 219),  // [
    X11(35, 221),  // ]
    X11(36, 13),   // Return
    X11(37, 17),   // left Control
    X11(38, 'A'),
    X11(39, 'S'),
    X11(40, 'D'),
    X11(41, 'F'),
    X11(42, 'G'),
    X11(43, 'H'),
    X11(44, 'J'),
    X11(45, 'K'),
    X11(46, 'L'),
    X11(47, 186),  // ;
    X11(48, 222),  // '
    X11(49, 192),  // `
    X11(50, 16),   // left Shift
    X11(51, 220),  // backslash
    X11(52, 'Z'),
    X11(53, 'X'),
    X11(54, 'C'),
    X11(55, 'V'),
    X11(56, 'B'),
    X11(57, 'N'),
    X11(58, 'M'),
    X11(59, 188),  // ,
    X11(60, 190),  // .
    X11(61, 191),  // /
    X11(62, 16),   // right Shift
    X11(64, 18),   // left Alt (also when Shift turns it into Meta)
    X11(65, 32),   // Space
    X11(94, 226),  // the extra key left of Z on ISO keyboards
    X11(105, 17),  // right Control
    X11(108, 18),  // right Alt
});

int Find(KeySource source, uint32_t key) {
    for (const KeyRow& row : kTable) {
        if (row.source == source && key >= row.first && key <= row.last)
            return row.vkFirst + int(key - row.first);
    }
    return 0;
}

}  // namespace

std::span<const KeyRow> KeyTable() {
    return kTable;
}

int VirtualKeyFor(int qtKey, bool keypad, uint32_t nativeScanCode, bool x11ScanCodes) {
    int code = 0;
    if (keypad) code = Find(Keypad, uint32_t(qtKey));
    if (code == 0) code = Find(Main, uint32_t(qtKey));
    if (code == 0 && x11ScanCodes && nativeScanCode != 0) code = Find(X11Code, nativeScanCode);
    return code;
}

}  // namespace app
