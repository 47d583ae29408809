// The graphics pack, sprite drawing and the start-up asset checks.
#include <gtest/gtest.h>

#include <memory>

#include "core/game.h"
#include "core/screen/graphics_pack.h"
#include "testkit/testkit.h"

using namespace kdv;

namespace {

void SetSprite(Game& g, int n, const testkit::Sprite& s) {
    std::copy(s.begin(), s.end(), g.SpriteSheet.begin() + n * 256);
    NoteSpriteSheet(g);
}

}  // namespace

TEST(DrawSprite, TransparencyAndColourOffset) {
    testkit::Rig rig;
    Game& g = rig.g();
    testkit::Sprite s = testkit::SolidSprite(255);
    s[0] = 5, s[1] = 0, s[2] = 200;
    SetSprite(g, 3, s);
    g.FrameScreen.Set(3, 10, 77);
    DrawSprite(g, 0, 10, 3, g.FrameScreen, 64);
    EXPECT_EQ(g.FrameScreen.At(0, 10), 69);
    EXPECT_EQ(g.FrameScreen.At(1, 10), 0);
    EXPECT_EQ(g.FrameScreen.At(2, 10), 8);   // wraps modulo 256
    EXPECT_EQ(g.FrameScreen.At(3, 10), 77);  // 255 leaves the pixel

    auto before = g.FrameScreen.Bytes();
    SetSprite(g, 4, testkit::SolidSprite(255));
    DrawSprite(g, 40, 40, 4, g.FrameScreen, 0);
    EXPECT_EQ(g.FrameScreen.Bytes(), before);
}

TEST(DrawSprite, BottomRowRunsIntoTheSlackThenStops) {
    testkit::Rig rig;
    Game& g = rig.g();
    SetSprite(g, 1, testkit::SolidSprite(9));
    DrawSprite(g, 0, 199, 1, g.FrameScreen, 0);
    for (int o = 63680; o <= 63695; ++o) EXPECT_EQ(g.FrameScreen.Bytes()[size_t(o)], 9) << o;
    for (int o = 64000; o <= 64015; ++o) EXPECT_EQ(g.FrameScreen.Bytes()[size_t(o)], 9) << o;
    EXPECT_EQ(std::count(g.FrameScreen.Bytes().begin(), g.FrameScreen.Bytes().end(), 9), 32);
    // Positions no caller should pass do not write outside the buffer.
    DrawSprite(g, 5000, 300, 1, g.FrameScreen, 0);
    DrawSprite(g, -50, -50, 1, g.FrameScreen, 0);
    DrawSprite(g, 0, 0, 94, g.FrameScreen, 0);
}

TEST(DrawSprite, DrawingOriginShowsFourColumnsLeft) {
    testkit::Rig rig;
    Game& g = rig.g();
    SetSprite(g, 1, testkit::SolidSprite(9));
    DrawSprite(g, 0, 10, 1, g.FrameScreen, 0);
    // Presenter index r * 320 + c is drawing offset 4 + r * 320 + c: drawn column 0 of row 10
    // shows as column 316 of row 9.
    EXPECT_EQ(g.FrameScreen.Bytes()[size_t(4 + 9 * 320 + 316)], 9);
    EXPECT_EQ(g.FrameScreen.Bytes()[size_t(4 + 10 * 320 + 11)], 9);
    EXPECT_EQ(g.FrameScreen.Bytes()[size_t(4 + 10 * 320 + 12)], 0);
}

TEST(LoadAssets, ChecksTheLevelFileFirstThenThePack) {
    testkit::Rig rig;
    EXPECT_EQ(LoadAssets(rig.g()), 6);
    rig.files.files["data/lswap.dat"] = {};
    EXPECT_EQ(LoadAssets(rig.g()), 4);
    rig.files.files["data/tank.grp"] = testkit::EncodeGraphics(testkit::StandardGraphics());
    EXPECT_EQ(LoadAssets(rig.g()), 0);
    EXPECT_EQ(rig.g().SpriteSheet[65 * 256], 4);
    EXPECT_EQ(AssetErrorText(0), "Ok");
    EXPECT_EQ(AssetErrorText(4), "File \"data\\tank.grp\" not found");
    EXPECT_EQ(AssetErrorText(6), "File \"data\\lswap.dat\" not found");
    EXPECT_EQ(AssetErrorText(5), "Unknown error!");
}

TEST(LoadAssets, TruncatedPackLoadsWhatIsThere) {
    testkit::Rig rig;
    rig.files.files["data/lswap.dat"] = {};
    auto pack = testkit::EncodeGraphics(testkit::StandardGraphics());
    pack.resize(18436);
    rig.files.files["data/tank.grp"] = pack;
    EXPECT_EQ(LoadAssets(rig.g()), 0);
    EXPECT_EQ(rig.g().GamePalette[3 * 10], 10);
    for (uint8_t b : rig.g().SpriteSheet) ASSERT_EQ(b, 0);
}

TEST(LoadAssets, OversizedTitleIsClampedWhenDrawn) {
    testkit::Rig rig;
    auto pack = testkit::StandardGraphics();
    pack.titleWidth = 400;  // 400 x 100 = 40,000 pixels, more than the pack holds
    pack.titleHeight = 100;
    rig.files.files["data/lswap.dat"] = testkit::EncodeLevels({testkit::DefaultLevel()});
    rig.files.files["data/tank.grp"] = testkit::EncodeGraphics(pack);
    rig.files.files["data/tank.fnt"] = testkit::StandardFont();
    ASSERT_TRUE(rig.StartUp());
    rig.Tick(200);  // title scroll and idle blit the picture every frame
    EXPECT_EQ(rig.g().GameState, gsTitleIdle);
    EXPECT_FALSE(rig.window.failed);
}
