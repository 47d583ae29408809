// The bitmap font: loading, spacing from each glyph's ink, clipping.
#include <gtest/gtest.h>

#include "core/game.h"
#include "core/screen/font.h"
#include "testkit/testkit.h"

using namespace kdv;

namespace {

struct FontRig : testkit::Rig {
    uint16_t Load(const testkit::Bytes& font) {
        files.files["f.fnt"] = font;
        return LoadFont(g(), "f.fnt", buffer.data(), buffer.size());
    }
    // Leftmost inked column of the glyph drawn at row y.
    std::vector<int> InkStarts(int y) {
        std::vector<int> starts;
        bool prev = false;
        for (int x = 0; x < 320; ++x) {
            bool ink = g().FrameScreen.At(x, y) == 15;
            if (ink && !prev) starts.push_back(x);
            prev = ink;
        }
        return starts;
    }
    std::array<uint8_t, kFontBufferBytes> buffer{};
};

}  // namespace

TEST(Font, AdvanceIsInkWidthPlusOneBlankColumn) {
    FontRig rig;
    // 'A' has ink in columns 0..4, 'I' only in column 0, space none.
    uint16_t slot = rig.Load(testkit::MakeFont(8, 8, [](int c) {
        return c == 'A' ? 4 : c == 'I' ? 0 : -1;
    }));
    ASSERT_EQ(slot, 1);
    EXPECT_EQ(GlyphInkWidth('A', rig.buffer.data(), rig.buffer.size()), 4);
    EXPECT_EQ(GlyphInkWidth(' ', rig.buffer.data(), rig.buffer.size()), 0);

    DrawText(rig.g(), slot, 10, 20, 15, "AA");
    EXPECT_EQ(rig.InkStarts(20), (std::vector<int>{10, 16}));  // ink 10..14, 16..20
    EXPECT_EQ(rig.g().FrameScreen.At(15, 20), 0);
    EXPECT_EQ(rig.g().FrameScreen.At(16, 20), 15);

    ClearFrame(rig.g().FrameScreen);
    DrawText(rig.g(), slot, 10, 30, 15, "I IA");  // column-0 ink and no ink both advance 6
    EXPECT_EQ(rig.InkStarts(30), (std::vector<int>{10, 22, 28}));
}

TEST(Font, TextIsClippedAtTheRightEdgeWithoutWrapping) {
    FontRig rig;
    uint16_t slot = rig.Load(testkit::MakeFont(8, 8, [](int) { return 7; }));
    DrawText(rig.g(), slot, 316, 50, 15, "A");
    for (int x = 316; x <= 319; ++x) EXPECT_EQ(rig.g().FrameScreen.At(x, 50), 15);
    for (int x = 0; x < 8; ++x) EXPECT_EQ(rig.g().FrameScreen.At(x, 51), 0);
    DrawText(rig.g(), 0, 10, 10, 15, "A");  // slot 0 draws nothing
    EXPECT_EQ(rig.g().FrameScreen.At(10, 10), 0);
}

TEST(Font, SlotsAreCountedAndReusedPerBuffer) {
    testkit::Rig rig;
    rig.files.files["f.fnt"] = testkit::StandardFont();
    std::vector<std::array<uint8_t, 2050>> buffers(11);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(LoadFont(rig.g(), "f.fnt", buffers[size_t(i)].data(), 2050), i + 1);
    EXPECT_EQ(LoadFont(rig.g(), "f.fnt", buffers[10].data(), 2050), 0);
    EXPECT_EQ(LoadFont(rig.g(), "f.fnt", buffers[3].data(), 2050),
              0);  // full, even for a known buffer

    testkit::Rig fresh;
    fresh.files.files["f.fnt"] = testkit::StandardFont();
    EXPECT_EQ(LoadFont(fresh.g(), "f.fnt", buffers[0].data(), 2050), 1);
    EXPECT_EQ(LoadFont(fresh.g(), "f.fnt", buffers[0].data(), 2050), 1);
    EXPECT_EQ(LoadFont(fresh.g(), "missing.fnt", buffers[1].data(), 2050), 0);
    EXPECT_EQ(fresh.g().FontCount, 1);
}

TEST(Font, DegenerateHeightsStayInsideTheBuffer) {
    for (uint8_t height : {uint8_t(0), uint8_t(9), uint8_t(200), uint8_t(255)}) {
        FontRig rig;
        auto font = testkit::MakeFont(8, height, [](int) { return 3; });
        uint16_t slot = rig.Load(font);
        ASSERT_NE(slot, 0);
        DrawText(rig.g(), slot, 0, 0, 15, "\xff\xfe zz");
        if (height == 0) {
            EXPECT_EQ(rig.g().FrameScreen.At(0, 0), 0);
        }
    }
}
