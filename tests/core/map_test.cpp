// The stage map, the level file and the colour classes of the field.
#include <gtest/gtest.h>

#include "core/field/map.h"
#include "core/game.h"
#include "testkit/testkit.h"

using namespace kdv;
using testkit::FieldRig;

TEST(LevelFile, RecordsPastTheEndGiveTheDefaultLayout) {
    FieldRig rig;
    Game& g = rig.g();
    testkit::LevelRecord demo = testkit::DefaultLevel(), stage = testkit::DefaultLevel();
    demo.map[0] = 2;
    stage.map[0] = 3;
    stage.lineup.fill(5);
    auto bytes = testkit::EncodeLevels({demo, stage});
    ASSERT_EQ(bytes.size(), 352u);
    rig.files.files["data/lswap.dat"] = bytes;
    LoadStage(g, 1);
    EXPECT_EQ(g.MapGrid[0], 3);
    EXPECT_EQ(g.EnemyLineup[20], 5);
    LoadStage(g, 2);
    EXPECT_EQ(g.MapGrid[0], 0);
    EXPECT_EQ(g.MapGrid[6 * 12 + 11], 1);
    EXPECT_EQ(g.EnemyLineup[1], 5);  // the line-up last loaded stays

    bytes.resize(200);  // record 0 and 24 stray bytes
    rig.files.files["data/lswap.dat"] = bytes;
    LoadStage(g, 0);
    EXPECT_EQ(g.MapGrid[0], 2);
    LoadStage(g, 1);
    EXPECT_EQ(g.MapGrid[0], 0);

    rig.files.files["data/lswap.dat"] = testkit::Bytes(100, 2);  // less than one record
    LoadStage(g, 0);
    EXPECT_EQ(g.MapGrid[6 * 12 + 11], 1);
}

TEST(LevelFile, TileCodesPastTheLastTileLoadAsEmpty) {
    FieldRig rig;
    testkit::LevelRecord r = testkit::DefaultLevel();
    r.map[3] = 13;
    r.map[4] = 14;
    r.map[5] = 255;
    rig.files.files["data/lswap.dat"] = testkit::EncodeLevels({r});
    LoadStage(rig.g(), 0);
    EXPECT_EQ(rig.g().MapGrid[3], 13);
    EXPECT_EQ(rig.g().MapGrid[4], 0);
    EXPECT_EQ(rig.g().MapGrid[5], 0);
}

TEST(Background, FramePanelsAndBaseColours) {
    FieldRig rig;
    Game& g = rig.g();
    rig.Build();
    const ScreenBuffer& b = g.BackScreen;
    EXPECT_EQ(b.At(100, 0), kBorderColour);
    EXPECT_EQ(b.At(100, 3), kBorderColour);
    EXPECT_EQ(b.At(100, 4), 0);
    EXPECT_EQ(b.At(100, 196), kBorderColour);
    EXPECT_EQ(b.At(15, 100), kBorderColour);
    EXPECT_EQ(b.At(16, 100), 0);
    EXPECT_EQ(b.At(223, 100), 0);
    EXPECT_EQ(b.At(224, 100), kBorderColour);
    EXPECT_EQ(b.At(239, 3), 8);  // the sunken frames of the panel
    EXPECT_EQ(b.At(303, 100), 15);
    EXPECT_EQ(b.At(270, 160), kBorderColour);
    EXPECT_EQ(b.At(260, 50), 0);  // inside the panel
    // The base sprite is colour 40; drawn again with offset 214 it becomes the base colour.
    EXPECT_EQ(b.At(112, 180), kBaseColour);
    EXPECT_EQ(b.At(127, 195), kBaseColour);
    // The wall pieces hug it: above (bottom half of the cell), left and right halves.
    EXPECT_EQ(b.At(100, 171), 0);
    EXPECT_EQ(b.At(100, 172), 8);
    EXPECT_EQ(b.At(103, 185), 0);
    EXPECT_EQ(b.At(104, 185), 8);
    EXPECT_EQ(b.At(135, 185), 8);
    EXPECT_EQ(b.At(136, 185), 0);
}

TEST(Background, BaseOffsetWorksModulo256AndSkipsTransparency) {
    FieldRig rig;
    Game& g = rig.g();
    uint8_t* base = g.SpriteSheet.data() + 64 * 256;
    base[0] = 42;   // becomes 0: empty for everyone
    base[1] = 255;  // stays transparent
    NoteSpriteSheet(g);
    rig.Build();
    EXPECT_EQ(g.BackScreen.At(112, 180), 0);
    EXPECT_EQ(g.BackScreen.At(113, 180), 0);  // nothing was drawn under the transparent pixel
    EXPECT_EQ(g.BackScreen.At(114, 180), kBaseColour);
}

TEST(Background, CoverIsDrawnOnlyOverTheFrame) {
    FieldRig rig;
    Game& g = rig.g();
    rig.SetCell(3, 4, 12);
    rig.SetCell(4, 4, 13);
    rig.Build();
    EXPECT_EQ(g.BackScreen.At(CellX(3), CellY(4)), 0);
    EXPECT_EQ(g.BackScreen.At(CellX(4), CellY(4)), 1);  // water, first picture
    rig.Frame();
    EXPECT_TRUE(RowIsClear(g, CellX(3), CellY(4)));  // empty for movement
    DrawTopLayer(g);
    EXPECT_EQ(g.FrameScreen.At(CellX(3) + 5, CellY(4) + 5), 50);
    DrawEditorMap(g);
    EXPECT_EQ(g.BackScreen.At(CellX(3), CellY(4)), 50);  // the editor shows it in place
}

TEST(Erase, OnlyBrickOrBrickAndSteelWithinItsRows) {
    auto s = std::make_unique<ScreenBuffer>();
    for (int x = 0; x < 8; ++x)
        s->Set(x, 10, uint8_t(std::array<int, 8>{4, 8, 17, 31, 32, 1, 0, 208}[size_t(x)]));
    EraseBrick(*s, 0, 10, 7, 10, 0);
    EXPECT_EQ(s->At(0, 10), 0);
    EXPECT_EQ(s->At(1, 10), 0);
    EXPECT_EQ(s->At(2, 10), 17);
    EraseBrickAndSteel(*s, 0, 10, 7, 10, 0);
    EXPECT_EQ(s->At(2, 10), 0);
    EXPECT_EQ(s->At(3, 10), 0);
    EXPECT_EQ(s->At(4, 10), 32);
    EXPECT_EQ(s->At(7, 10), 208);

    auto t = std::make_unique<ScreenBuffer>();
    for (int y = 0; y < 200; ++y) t->Set(5, y, 4);
    EraseBrick(*t, 5, 0, 5, 5, 0);  // a rectangle reaching row 0 does nothing
    EXPECT_EQ(t->At(5, 3), 4);
    EraseBrick(*t, 5, 195, 5, 250, 0);  // stops after row 199
    EXPECT_EQ(t->At(5, 199), 0);
    EXPECT_EQ(t->Bytes()[size_t(200 * 320 + 5)], 0);
    EraseBrick(*t, 9, 5, 8, 9, 0);  // empty range
    EXPECT_EQ(t->At(5, 9), 4);
}

TEST(Clearance, RowsAndColumnsOfSixteenPixels) {
    FieldRig rig;
    Game& g = rig.g();
    rig.Build();
    rig.Frame();
    EXPECT_TRUE(RowIsClear(g, 16, 4));
    EXPECT_FALSE(RowIsClear(g, 16, 3));  // the frame
    EXPECT_TRUE(ColumnIsClear(g, 16, 4));
    EXPECT_FALSE(ColumnIsClear(g, 15, 4));
    g.FrameScreen.Set(31, 50, 9);  // water blocks tanks
    EXPECT_FALSE(RowIsClear(g, 16, 50));
    EXPECT_TRUE(RowIsClear(g, 32, 50));
    EXPECT_FALSE(ColumnIsClear(g, 31, 35));
    EXPECT_TRUE(ColumnIsClear(g, 31, 51));
}
