// Start-up with missing data files, and errors inside a game step.
#include <gtest/gtest.h>

#include "core/flow/main_form.h"
#include "core/game.h"
#include "testkit/testkit.h"

using namespace kdv;

TEST(StartUp, EveryMissingFileIsReportedInOrder) {
    struct Case {
        std::vector<const char*> missing;
        std::vector<std::string> messages;
    };
    const std::string grp = "File \"data\\tank.grp\" not found!";
    const std::string lvl = "File \"data\\lswap.dat\" not found!";
    const std::string fnt = "File \"data\\tank.fnt\" not found!";
    for (const Case& c :
         {Case{{"data/lswap.dat"}, {lvl}}, Case{{"data/tank.grp"}, {grp}},
          Case{{"data/tank.fnt"}, {fnt}}, Case{{"data/tank.grp", "data/tank.fnt"}, {grp, fnt}},
          Case{{"data/lswap.dat", "data/tank.grp"}, {lvl}}}) {
        testkit::Rig rig;
        rig.InstallStandardData();
        for (const char* path : c.missing) rig.files.files.erase(path);
        EXPECT_FALSE(rig.StartUp());
        EXPECT_EQ(rig.window.messages, c.messages);
        EXPECT_TRUE(rig.window.closeRequested);
        EXPECT_FALSE(rig.window.timerEnabled);
        FormClose(rig.g());  // a folder without the game's data gets no settings file
        EXPECT_EQ(rig.files.files.count("kordavel.ini"), 0u);
    }
}

TEST(StartUp, OrderOfActivation) {
    testkit::Rig rig;
    rig.InstallStandardData();
    ASSERT_TRUE(rig.StartUp());
    EXPECT_TRUE(rig.window.timerEnabled);
    EXPECT_TRUE(rig.sound.initialised);
    EXPECT_EQ(rig.sound.count, 10);
    EXPECT_EQ(rig.g().GameState, gsTitleScroll);
    EXPECT_NE(rig.g().GameFont, 0);
    EXPECT_EQ(rig.g().LevelCount, 2);
    EXPECT_EQ(rig.g().PixelTable[63],
              uint16_t((63 / 2) * 1024 + ((63 * 7) % 64 / 2) * 32 + (63 * 13) % 64 / 2));
}

TEST(StartUp, AnErrorInAGameStepLeavesFullScreenAndFails) {
    testkit::Rig rig;
    rig.InstallStandardData();
    ASSERT_TRUE(rig.StartUp());
    FormKeyDown(rig.g(), 13, true);
    ASSERT_TRUE(rig.window.fullScreen);
    ClickMenu(rig.g(), "MDemo");
    rig.Tick(3);
    rig.files.files.erase("data/tank.grp");
    FormKeyDown(rig.g(), 27, false);
    rig.Tick(1);  // leaving the demo, the title cannot read its picture
    EXPECT_TRUE(rig.window.failed);
    EXPECT_FALSE(rig.window.fullScreen);
    EXPECT_NE(rig.window.failure.find("tank.grp"), std::string::npos);
}

TEST(StartUp, AnErrorInAMenuCommandIsHandledTheSameWay) {
    testkit::Rig rig;
    rig.InstallStandardData();
    ASSERT_TRUE(rig.StartUp());
    rig.files.failingReads.insert("data/lswap.dat");
    EXPECT_TRUE(ClickMenu(rig.g(), "MDemo"));
    EXPECT_TRUE(rig.window.failed);
    EXPECT_NE(rig.window.failure.find("lswap.dat"), std::string::npos);
}
