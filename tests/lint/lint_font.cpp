// Lint of the built font: layout, the characters the game draws, and the spacing rules of
// its text (each glyph advances by its rightmost ink column + 2, an empty glyph by 6).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const std::vector<uint8_t>& FontFile() {
    static const std::vector<uint8_t> bytes = [] {
        std::ifstream f(KORDAVEL_DATA_DIR "/tank.fnt", std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
    }();
    return bytes;
}

// Glyph rows, as the game finds them: glyph c starts at byte 2 + 8c.
uint8_t Row(int c, int r) {
    return FontFile()[2 + c * 8 + r];
}
bool Ink(int c, int x, int y) {
    return Row(c, y) & (0x80 >> x);
}

bool Empty(int c) {
    for (int r = 0; r < 8; ++r)
        if (Row(c, r)) return false;
    return true;
}

// The rightmost ink column, 0 for none: what the game spaces text by.
int InkWidth(int c) {
    int w = 0;
    for (int r = 0; r < 8; ++r)
        for (int x = 7; x > w; --x)
            if (Ink(c, x, r)) w = x;
    return w;
}

int Advance(int c) {
    return InkWidth(c) ? InkWidth(c) + 2 : 6;
}

struct Box {
    int left = 8, right = -1, top = 8, bottom = -1;
};
Box InkBox(int c) {
    Box b;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            if (Ink(c, x, y)) {
                b.left = std::min(b.left, x);
                b.right = std::max(b.right, x);
                b.top = std::min(b.top, y);
                b.bottom = std::max(b.bottom, y);
            }
    return b;
}

std::string Name(int c) {
    return c > 32 && c < 127 ? std::string("'") + static_cast<char>(c) + "'"
                             : "code " + std::to_string(c);
}

class Font : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(FontFile().size(), 2052u) << KORDAVEL_DATA_DIR "/tank.fnt"; }
};

TEST_F(Font, HeaderIsEightByEightWithZeroTail) {
    EXPECT_EQ(FontFile()[0], 8) << "width";
    EXPECT_EQ(FontFile()[1], 8) << "height";
    EXPECT_EQ(FontFile()[2050], 0);
    EXPECT_EQ(FontFile()[2051], 0);
}

TEST_F(Font, EveryCharacterTheGameDrawsHasItsOwnGlyph) {
    std::vector<int> codes = {24, 25, 26, 27};  // the editor's arrows
    for (int c = 33; c <= 126; ++c) codes.push_back(c);
    for (size_t i = 0; i < codes.size(); ++i) {
        EXPECT_FALSE(Empty(codes[i])) << Name(codes[i]) << " has no ink";
        for (size_t j = i + 1; j < codes.size(); ++j) {
            bool same = true;
            for (int r = 0; r < 8; ++r) same = same && Row(codes[i], r) == Row(codes[j], r);
            EXPECT_FALSE(same) << Name(codes[i]) << " and " << Name(codes[j]) << " look alike";
        }
    }
    EXPECT_TRUE(Empty(' ')) << "the space";
}

TEST_F(Font, SpacingIsTightAndEven) {
    for (int c = 33; c <= 126; ++c) {
        Box b = InkBox(c);
        // Ink only in column 0 would give a narrow mark the wide advance of an empty glyph.
        EXPECT_GE(InkWidth(c), 1) << Name(c) << " has ink only in column 0";
        EXPECT_LE(b.left, 1) << Name(c) << " wastes columns on its left";
    }
    for (int c : {'A', 'a'})
        for (int k = 0; k < 26; ++k) {
            EXPECT_EQ(InkBox(c + k).left, 0) << Name(c + k) << " should start at column 0";
            EXPECT_LE(Advance(c + k), 7) << Name(c + k) << " is too wide for tight text";
        }
    // Scores are padded with spaces (advance 6), so every digit must advance 6 too.
    for (int c = '0'; c <= '9'; ++c) EXPECT_EQ(Advance(c), 6) << Name(c);
    EXPECT_EQ(Advance(' '), 6);
}

TEST_F(Font, LettersAndDigitsShareOneBaseline) {
    const std::string capitals = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (char c : capitals) {
        EXPECT_EQ(InkBox(c).top, 0) << Name(c);
        EXPECT_EQ(InkBox(c).bottom, 6) << Name(c);
    }
    for (char c : std::string("acemnorsuvwxz")) {
        EXPECT_EQ(InkBox(c).top, 2) << Name(c) << " should stand at the x-height";
        EXPECT_EQ(InkBox(c).bottom, 6) << Name(c);
    }
    for (char c : std::string("bdfhklt")) {
        EXPECT_EQ(InkBox(c).top, 0) << Name(c) << " should rise to the capitals";
        EXPECT_EQ(InkBox(c).bottom, 6) << Name(c);
    }
    for (char c : std::string("gjpqy")) EXPECT_EQ(InkBox(c).bottom, 7) << Name(c) << " descends";
}

// The arrowhead carries more ink than the shaft, so the ink leans toward where it points.
TEST_F(Font, ArrowsPointTheirWay) {
    struct Arrow {
        int code, dx, dy;
    };
    for (Arrow a : {Arrow{24, 0, -1}, Arrow{25, 0, 1}, Arrow{26, 1, 0}, Arrow{27, -1, 0}}) {
        Box b = InkBox(a.code);
        double sx = 0, sy = 0;
        int n = 0;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                if (Ink(a.code, x, y)) sx += x, sy += y, ++n;
        ASSERT_GT(n, 0) << Name(a.code);
        double lean =
            (sx / n - (b.left + b.right) / 2.0) * a.dx + (sy / n - (b.top + b.bottom) / 2.0) * a.dy;
        EXPECT_GT(lean, 0.2) << Name(a.code) << " does not point its way";
    }
}

}  // namespace
