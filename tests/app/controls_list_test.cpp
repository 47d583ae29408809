// The list of controls that File -> Controls shows.
#include <gtest/gtest.h>

#include "app/qt/controls_list.h"
#include "core/controls/player_controls.h"

namespace {

// File -> Controls lists the bindings the game reads, under the names of their keys: player 2
// has no Start or Pause of its own, player 1's Pause is a key only, and the keys the original's
// list names with a stray character are named cleanly. Options -> Input keeps those names.
TEST(Controls, TheHelpListsOnlyBindingsTheGameReadsWithPlainNames) {
    kdv::Settings settings;
    settings.keys1[kdv::Fire] = 46;  // Delete
    settings.keys2[kdv::Pause] = 'Q';
    const std::string text = app::ControlsText(settings, 0);
    const size_t second = text.find("Player 2");
    ASSERT_NE(second, std::string::npos) << text;
    const std::string one = text.substr(0, second), two = text.substr(second);
    EXPECT_NE(one.find("  Right: Right / N/A\n"), std::string::npos) << text;
    EXPECT_NE(one.find("  Fire: Delete / N/A\n"), std::string::npos) << text;
    EXPECT_NE(one.find("  Start: Space / N/A\n"), std::string::npos) << text;
    EXPECT_NE(one.find("  Pause: P\n"), std::string::npos) << text;
    EXPECT_EQ(two.find("Start"), std::string::npos) << text;
    EXPECT_EQ(two.find("Pause"), std::string::npos) << text;
    EXPECT_NE(two.find("  Fire: Shift / N/A\n"), std::string::npos) << text;
    for (const char* glitch : {",\"", ",>"}) EXPECT_EQ(text.find(glitch), std::string::npos);
    EXPECT_EQ(kdv::KeyName(39), "Right,\"");
    EXPECT_EQ(kdv::KeyName(46), "Delete,>");
}

}  // namespace
