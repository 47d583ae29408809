// The indexed screens, the pixel table, the drawing primitives and the presenter.
#include <gtest/gtest.h>

#include "core/flow/main_form.h"
#include "core/game.h"
#include "core/screen/present.h"
#include "core/screen/screen.h"
#include "testkit/testkit.h"

using namespace kdv;

namespace {

uint16_t Entry(uint8_t r, uint8_t g, uint8_t b, bool rgb565) {
    Palette palette{};
    palette[3] = r, palette[4] = g, palette[5] = b;
    PixelTable table{};
    BuildPixelTable(palette, rgb565, table);
    return table[1];
}

}  // namespace

TEST(PixelTable, ConvertsSixBitComponentsToBothFormats) {
    EXPECT_EQ(Entry(63, 63, 63, false), 0x7FFF);
    EXPECT_EQ(Entry(63, 63, 63, true), 0xFFFF);
    EXPECT_EQ(Entry(62, 62, 62, false), 0x7FFF);
    EXPECT_EQ(Entry(62, 62, 62, true), 0xFFDF);
    EXPECT_EQ(Entry(1, 1, 1, false), 0x0000);
    EXPECT_EQ(Entry(1, 1, 1, true), 0x0020);
    EXPECT_EQ(Entry(10, 20, 30, false), 0x154F);
    EXPECT_EQ(Entry(10, 20, 30, true), 0x2A8F);
}

TEST(Primitives, BackPixelsAreClippedToTheScreen) {
    auto back = std::make_unique<ScreenBuffer>();
    PutBackPixel(*back, 320, 0, 7);
    PutBackPixel(*back, 0, 200, 7);
    PutBackPixel(*back, -1, 5, 7);
    for (uint8_t b : back->Bytes()) ASSERT_EQ(b, 0);
    PutBackPixel(*back, 319, 199, 7);
    EXPECT_EQ(back->Bytes()[63999], 7);
    // Lines far off the screen change nothing and finish at once.
    DrawBackHLine(*back, -2000000000, 2000000000, 300, 9);
    DrawBackVLine(*back, 400, -2000000000, 2000000000, 9);
    EXPECT_EQ(std::count(back->Bytes().begin(), back->Bytes().end(), 9), 0);
}

TEST(Primitives, HorizontalLinesCoverExactlyTheirClippedSpan) {
    auto back = std::make_unique<ScreenBuffer>();
    DrawBackHLine(*back, -5, 400, 0, 4);  // the whole first row, nothing of the next
    DrawBackHLine(*back, 318, 325, 199, 5);
    DrawBackHLine(*back, 30, 20, 50, 6);  // ends the wrong way round: nothing
    DrawBackHLine(*back, 10, 10, -1, 6);
    for (int x = 0; x < 320; ++x) ASSERT_EQ(back->At(x, 0), 4) << x;
    EXPECT_EQ(back->At(0, 1), 0);
    EXPECT_EQ(back->At(317, 199), 0);
    EXPECT_EQ(back->At(318, 199), 5);
    EXPECT_EQ(back->At(319, 199), 5);
    EXPECT_EQ(std::count(back->Bytes().begin(), back->Bytes().end(), 6), 0);
    EXPECT_EQ(std::count(back->Bytes().begin(), back->Bytes().end(), 4), 320);
}

TEST(WorkBitmap, ResizingClearsEvenAtTheSameSize) {
    WorkBitmap bitmap;
    bitmap.Resize(320, 200);
    bitmap.pixels[123] = 0x7FFF;
    bitmap.Resize(320, 200);
    EXPECT_EQ(bitmap.pixels.size(), 64000u);
    EXPECT_EQ(bitmap.pixels[123], 0);
    bitmap.Resize(640, 400);
    EXPECT_EQ(std::count(bitmap.pixels.begin(), bitmap.pixels.end(), 0), 640 * 400);
}

TEST(Primitives, SunkenFrameHasDarkTopLeftAndLightBottomRight) {
    auto back = std::make_unique<ScreenBuffer>();
    DrawSunkenFrame(*back, 10, 10, 20, 15);
    EXPECT_EQ(back->At(10, 10), 8);
    EXPECT_EQ(back->At(20, 10), 8);
    EXPECT_EQ(back->At(10, 15), 15);
    EXPECT_EQ(back->At(20, 15), 15);
    EXPECT_EQ(back->At(10, 12), 8);
    EXPECT_EQ(back->At(20, 12), 15);
    EXPECT_EQ(back->At(15, 12), 0);
}

TEST(Primitives, FilledRectangleTakesCornersInAnyOrderAndClips) {
    auto a = std::make_unique<ScreenBuffer>(), b = std::make_unique<ScreenBuffer>();
    FillBackRect(*a, 20, 15, 10, 10, 3);
    FillBackRect(*b, 10, 10, 20, 15, 3);
    EXPECT_EQ(a->Bytes(), b->Bytes());
    EXPECT_EQ(std::count(a->Bytes().begin(), a->Bytes().end(), 3), 11 * 6);
    auto c = std::make_unique<ScreenBuffer>();
    FillBackRect(*c, 310, 190, 330, 210, 3);
    EXPECT_EQ(std::count(c->Bytes().begin(), c->Bytes().end(), 3), 10 * 10);
}

TEST(Primitives, BlitCopiesEveryByteAndStaysInsideBothBuffers) {
    auto back = std::make_unique<ScreenBuffer>(), picture = std::make_unique<ScreenBuffer>();
    picture->SetSize(3, 2);
    for (int i = 0; i < 6; ++i) picture->Set(4 + i, 0, uint8_t(i == 0 ? 255 : i));
    BlitPicture(*back, 5, 7, *picture, 17664);
    EXPECT_EQ(back->At(5, 7), 255);  // opaque copy, 255 included
    EXPECT_EQ(back->At(7, 8), 5);
    // A title claiming 65535 x 65535 pixels copies only what was loaded, and nothing past
    // the end of the target.
    picture->SetSize(65535, 65535);
    BlitPicture(*back, 0, 150, *picture, 17664);
    BlitPicture(*back, 319, 199, *picture, 17664);
    SUCCEED();  // the sanitizer build checks that nothing ran outside the buffers
}

TEST(Present, ShowsEveryOtherFrameAndDoublesPixels) {
    testkit::Rig rig;
    Game& g = rig.g();
    g.PixelTable[7] = 0x1234;
    g.FrameScreen.Set(4, 0, 7);          // shown at (0, 0)
    g.FrameScreen.Set(4 + 319, 199, 7);  // shown at (319, 199)
    PresentFrame(g);
    PresentFrame(g);
    EXPECT_EQ(rig.display.presented, 1);
    ASSERT_EQ(g.WorkBitmap.width, 640);
    auto px = [&](int x, int y) { return g.WorkBitmap.pixels[size_t(y * 640 + x)]; };
    EXPECT_EQ(px(0, 0), 0x1234);
    EXPECT_EQ(px(1, 1), 0x1234);
    EXPECT_EQ(px(2, 0), 0);
    EXPECT_EQ(px(638, 398), 0x1234);
    EXPECT_EQ(px(639, 399), 0x1234);

    g.Settings.smallScreen = true;
    PresentFrame(g);
    ASSERT_EQ(g.WorkBitmap.width, 320);
    EXPECT_EQ(g.WorkBitmap.pixels[0], 0x1234);
    EXPECT_EQ(g.WorkBitmap.pixels[1], 0);
}

TEST(Present, SkippedDisplayStillFlipsTheToggleAndPauseIsStamped) {
    testkit::Rig rig;
    rig.InstallStandardData();
    ASSERT_TRUE(rig.StartUp());
    Game& g = rig.g();
    const uint8_t before = g.PresentToggle;
    rig.display.canDraw = false;
    const long shown = rig.display.presented;
    PresentFrame(g);
    EXPECT_NE(g.PresentToggle, before);
    EXPECT_EQ(rig.display.presented, shown);

    rig.display.canDraw = true;
    ClearFrame(g.FrameScreen);
    g.Paused = true;
    if (g.PresentToggle == 1) PresentFrame(g);  // the next call presents
    PresentFrame(g);
    int red = 0;
    for (int y = 100; y < 108; ++y)
        for (int x = 100; x < 140; ++x) red += g.FrameScreen.At(x, y) == 12;
    EXPECT_GT(red, 20);
}

TEST(Present, OnlyChangedPixelsAreConvertedButEveryChangeShows) {
    testkit::Rig rig;
    rig.InstallStandardData();
    ASSERT_TRUE(rig.StartUp());
    Game& g = rig.g();
    auto present = [&] {
        PresentFrame(g);
        if (g.PresentToggle == 0) PresentFrame(g);
    };
    auto px = [&](int x, int y) { return g.WorkBitmap.pixels[size_t(y * g.WorkBitmap.width + x)]; };
    ClearFrame(g.FrameScreen);
    present();
    g.FrameScreen.Set(4 + 77, 50, 200);
    present();
    EXPECT_EQ(px(154, 100), g.PixelTable[200]);
    EXPECT_EQ(px(155, 101), g.PixelTable[200]);
    g.FrameScreen.Set(4 + 77, 50, 0);
    present();
    EXPECT_EQ(px(154, 100), g.PixelTable[0]);

    // A new table, or a display mode set again at the same size, converts everything.
    g.FrameScreen.Set(4 + 10, 10, 63);
    present();
    ClickMenu(g, "PaletteType");
    present();
    EXPECT_EQ(px(20, 20), g.PixelTable[63]);
    ClickMenu(g, "N640x400Alt21");
    present();
    EXPECT_EQ(px(21, 21), g.PixelTable[63]);
    ClickMenu(g, "N320x200Alt11");
    present();
    EXPECT_EQ(px(10, 10), g.PixelTable[63]);
}

// The blocks of the notes are four bytes off the chunks the presenter converts: the first
// block holds the size and the first 28 pixels, the last the last four pixels and slack, and a
// chunk may lie across two blocks of which only one was written.
TEST(Present, ChangesAtTheEdgesOfBlocksAndOfTheScreenShowAsAFullConversion) {
    for (const bool small : {false, true}) {
        testkit::Rig rig;
        Game& g = rig.g();
        for (int i = 0; i < 256; ++i) g.PixelTable[size_t(i)] = uint16_t(0x0101 * i);
        g.Settings.smallScreen = small;
        auto present = [&] {
            PresentFrame(g);
            if (g.PresentToggle == 0) PresentFrame(g);
        };
        auto differs = [&]() -> std::string {
            const WorkBitmap& b = g.WorkBitmap;
            const int scale = b.width / kScreenWidth;
            for (int y = 0; y < b.height; ++y)
                for (int x = 0; x < b.width; ++x) {
                    const uint8_t index = g.FrameScreen.At(kPresentOffset + x / scale, y / scale);
                    if (b.pixels[size_t(y * b.width + x)] != g.PixelTable[index])
                        return std::to_string(x) + ", " + std::to_string(y);
                }
            return {};
        };
        present();
        uint8_t colour = 1;
        // Shown pixels 0, 27, 28 and 29 (blocks 0 and 1), 319 of row 0 and 320 and 323 of row
        // 1 (one block across the two rows), the last four; the size and the slack after the
        // screen.
        for (const int pixel :
             {0, 27, 28, 29, 319, 320, 323, 324, kScreenPixels - 4, kScreenPixels - 1}) {
            g.FrameScreen.Set(kPresentOffset + pixel, 0, colour++);
            present();
            EXPECT_EQ(differs(), "") << "pixel " << pixel << (small ? " at 320 x 200" : "");
        }
        g.FrameScreen.SetSize(321, 201);
        g.FrameScreen.Set(kPresentOffset + kScreenPixels + 5, 0, colour);
        present();
        EXPECT_EQ(differs(), "");
    }
}
