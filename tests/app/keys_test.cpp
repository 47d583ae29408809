// The key table: which virtual-key code each key reaches.
#include <gtest/gtest.h>

#include <Qt>
#include <map>
#include <set>

#include "app/qt/keymap.h"

namespace {

using app::VirtualKeyFor;

int Main(Qt::Key key) {
    return VirtualKeyFor(key, false, 0, false);
}
int Pad(Qt::Key key) {
    return VirtualKeyFor(key, true, 0, false);
}

TEST(KeyTable, NamedKeysHaveTheirWindowsCodes) {
    const std::map<Qt::Key, int> expected = {
        {Qt::Key_Left, 37},          {Qt::Key_Up, 38},           {Qt::Key_Right, 39},
        {Qt::Key_Down, 40},          {Qt::Key_Return, 13},       {Qt::Key_Enter, 13},
        {Qt::Key_Escape, 27},        {Qt::Key_Tab, 9},           {Qt::Key_Backtab, 9},
        {Qt::Key_Backspace, 8},      {Qt::Key_Insert, 45},       {Qt::Key_Delete, 46},
        {Qt::Key_Home, 36},          {Qt::Key_End, 35},          {Qt::Key_PageUp, 33},
        {Qt::Key_PageDown, 34},      {Qt::Key_Shift, 16},        {Qt::Key_Control, 17},
        {Qt::Key_Alt, 18},           {Qt::Key_AltGr, 18},        {Qt::Key_Space, 32},
        {Qt::Key_F1, 112},           {Qt::Key_F12, 123},         {Qt::Key_Pause, 19},
        {Qt::Key_Semicolon, 186},    {Qt::Key_Equal, 187},       {Qt::Key_Comma, 188},
        {Qt::Key_Minus, 189},        {Qt::Key_Period, 190},      {Qt::Key_Slash, 191},
        {Qt::Key_QuoteLeft, 192},    {Qt::Key_BracketLeft, 219}, {Qt::Key_Backslash, 220},
        {Qt::Key_BracketRight, 221}, {Qt::Key_Apostrophe, 222},
    };
    for (auto [key, code] : expected) EXPECT_EQ(Main(key), code) << "Qt key 0x" << std::hex << key;
    for (int i = 0; i < 26; ++i) EXPECT_EQ(Main(Qt::Key(Qt::Key_A + i)), 65 + i);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(Main(Qt::Key(Qt::Key_0 + i)), 48 + i);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(Main(Qt::Key(Qt::Key_F1 + i)), 112 + i);
}

TEST(KeyTable, ShiftedSymbolsCountAsTheirKey) {
    // Player 2 fires with Shift: keys pressed meanwhile must keep their codes.
    const std::map<Qt::Key, int> expected = {
        {Qt::Key_Exclam, '1'},     {Qt::Key_At, '2'},         {Qt::Key_NumberSign, '3'},
        {Qt::Key_Dollar, '4'},     {Qt::Key_Percent, '5'},    {Qt::Key_AsciiCircum, '6'},
        {Qt::Key_Ampersand, '7'},  {Qt::Key_Asterisk, '8'},   {Qt::Key_ParenLeft, '9'},
        {Qt::Key_ParenRight, '0'}, {Qt::Key_Colon, 186},      {Qt::Key_Plus, 187},
        {Qt::Key_Less, 188},       {Qt::Key_Underscore, 189}, {Qt::Key_Greater, 190},
        {Qt::Key_Question, 191},   {Qt::Key_AsciiTilde, 192}, {Qt::Key_BraceLeft, 219},
        {Qt::Key_Bar, 220},        {Qt::Key_BraceRight, 221}, {Qt::Key_QuoteDbl, 222},
    };
    for (auto [key, code] : expected) EXPECT_EQ(Main(key), code) << "Qt key 0x" << std::hex << key;
}

TEST(KeyTable, KeypadKeysAreTheirOwn) {
    for (int i = 0; i < 10; ++i) EXPECT_EQ(Pad(Qt::Key(Qt::Key_0 + i)), 96 + i);
    // NumLock off: the keypad's cursor keys are the same keys 96..105, not the cursor block's.
    const Qt::Key numLockOff[] = {Qt::Key_Insert, Qt::Key_End,   Qt::Key_Down,  Qt::Key_PageDown,
                                  Qt::Key_Left,   Qt::Key_Clear, Qt::Key_Right, Qt::Key_Home,
                                  Qt::Key_Up,     Qt::Key_PageUp};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(Pad(numLockOff[i]), 96 + i) << i;
    EXPECT_EQ(Pad(Qt::Key_Asterisk), 106);
    EXPECT_EQ(Pad(Qt::Key_Plus), 107);
    EXPECT_EQ(Pad(Qt::Key_Minus), 109);
    EXPECT_EQ(Pad(Qt::Key_Period), 110);
    EXPECT_EQ(Pad(Qt::Key_Comma), 110);
    EXPECT_EQ(Pad(Qt::Key_Delete), 110);
    EXPECT_EQ(Pad(Qt::Key_Slash), 111);
    EXPECT_EQ(Pad(Qt::Key_Enter), 13);
    // Off the keypad the same Qt keys keep their main-block codes.
    EXPECT_EQ(Main(Qt::Key_Up), 38);
    EXPECT_EQ(Main(Qt::Key_Insert), 45);
    EXPECT_EQ(Main(Qt::Key_Minus), 189);
}

TEST(KeyTable, X11KeycodesSettleKeysTheQtCodeDoesNot) {
    const int cyrillicTse = 0x0426;  // what the W key types under a Russian layout
    EXPECT_EQ(VirtualKeyFor(cyrillicTse, false, 25, true), 'W');
    EXPECT_EQ(VirtualKeyFor(0x0424, false, 38, true), 'A');       // Cyrillic EF on the A key
    EXPECT_EQ(VirtualKeyFor(Qt::Key_Meta, false, 64, true), 18);  // Shift+Alt reports Meta
    EXPECT_EQ(VirtualKeyFor(cyrillicTse, false, 25, false), 0);   // not X11: unknown
    EXPECT_EQ(VirtualKeyFor(cyrillicTse, false, 0, true), 0);
    // The Qt code wins where it is known: A typed on the Q key of a French keyboard is A.
    EXPECT_EQ(VirtualKeyFor(Qt::Key_A, false, 24, true), 'A');
    EXPECT_EQ(VirtualKeyFor(Qt::Key_unknown, false, 9999, true), 0);
}

TEST(KeyTable, EveryKeyTheGameCanBindIsReachable) {
    // The codes the options dialog has names for, and the player bindings' defaults.
    std::set<int> wanted = {8,  9,  13, 16, 17, 18, 27, 32,  33,  34,  35,
                            36, 37, 38, 39, 40, 45, 46, 107, 109, 110, 111};
    for (int c = 48; c <= 57; ++c) wanted.insert(c);
    for (int c = 65; c <= 90; ++c) wanted.insert(c);
    for (int c = 96; c <= 105; ++c) wanted.insert(c);
    for (int c = 112; c <= 123; ++c) wanted.insert(c);
    std::set<int> reached;
    for (const app::KeyRow& row : app::KeyTable())
        for (uint32_t k = row.first; k <= row.last; ++k)
            reached.insert(row.vkFirst + int(k - row.first));
    for (int code : wanted) EXPECT_TRUE(reached.count(code)) << "no key gives " << code;
}

TEST(KeyTable, RowsAreUnambiguous) {
    // Two rows of one source covering the same key would leave the second silently unused.
    const auto table = app::KeyTable();
    for (size_t i = 0; i < table.size(); ++i) {
        const app::KeyRow& a = table[i];
        EXPECT_LE(a.first, a.last) << "row " << i;
        EXPECT_GT(a.vkFirst, 0) << "row " << i;
        EXPECT_LT(a.vkFirst + int(a.last - a.first), 256) << "row " << i;
        for (size_t j = i + 1; j < table.size(); ++j) {
            const app::KeyRow& b = table[j];
            if (a.source != b.source) continue;
            EXPECT_TRUE(a.last < b.first || b.last < a.first) << "rows " << i << " and " << j;
        }
    }
}

}  // namespace
