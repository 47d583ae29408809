// Lint of the built graphics pack: its layout, and the colour rules on which the physics of
// the field depends (every pixel's colour is also what it does).
#include <gtest/gtest.h>

#include <algorithm>
#include <bitset>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr size_t kPackSize = 42500;
constexpr size_t kTitleBytes = 17668;
constexpr size_t kPaletteOffset = 17668;
constexpr size_t kSpriteOffset = 18436;
constexpr int kSpriteCount = 94;

const std::vector<uint8_t>& Pack() {
    static const std::vector<uint8_t> bytes = [] {
        std::ifstream f(KORDAVEL_DATA_DIR "/tank.grp", std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
    }();
    return bytes;
}

class GraphicsPack : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(Pack().size(), kPackSize) << KORDAVEL_DATA_DIR "/tank.grp"; }
    static uint8_t Px(int sprite, int x, int y) {
        return Pack()[kSpriteOffset + sprite * 256 + y * 16 + x];
    }
    static int Component(int colour, int k) { return Pack()[kPaletteOffset + colour * 3 + k]; }
    // Perceived brightness on the 0..63 scale of the palette.
    static double Luma(int c) {
        return 0.299 * Component(c, 0) + 0.587 * Component(c, 1) + 0.114 * Component(c, 2);
    }
    static int Distance(int a, int b) {
        int d = 0;
        for (int k = 0; k < 3; ++k) d += std::abs(Component(a, k) - Component(b, k));
        return d;
    }
    static std::bitset<256> Footprint(int sprite) {
        std::bitset<256> f;
        for (int i = 0; i < 256; ++i) f[i] = Px(sprite, i % 16, i / 16) != 255;
        return f;
    }
    static int Opaque(int sprite) { return static_cast<int>(Footprint(sprite).count()); }
    static bool Same(int a, int b) {
        for (int i = 0; i < 256; ++i)
            if (Px(a, i % 16, i / 16) != Px(b, i % 16, i / 16)) return false;
        return true;
    }
    // Every pixel of the sprite passes `allowed`; the first one that does not is reported.
    static void ExpectColours(int sprite, const std::function<bool(int)>& allowed,
                              const char* rule) {
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                if (!allowed(Px(sprite, x, y))) {
                    ADD_FAILURE() << "sprite " << sprite << " pixel (" << x << ", " << y
                                  << ") is colour " << int(Px(sprite, x, y)) << "; " << rule;
                    return;
                }
    }
};

bool In(int v, int lo, int hi) {
    return v >= lo && v <= hi;
}

TEST_F(GraphicsPack, TitlePictureFitsItsSlotAndTheScreens) {
    const auto& p = Pack();
    int w = p[0] | p[1] << 8, h = p[2] | p[3] << 8;
    ASSERT_GT(w, 0);
    ASSERT_GT(h, 0);
    EXPECT_LE(w * h, 17664);
    // The title screen puts it at column 60 and scrolls it up from row 100; the demonstration
    // puts it on the field at (24, 52).
    EXPECT_LE(w, 200);
    EXPECT_LE(h, 100);
    size_t end = 4 + static_cast<size_t>(w) * h;
    ASSERT_LE(end, kTitleBytes);
    int brick = 0;
    for (size_t i = 4; i < end; ++i) {
        ASSERT_TRUE(p[i] == 0 || p[i] == 4 || p[i] == 8)
            << "title pixel " << (i - 4) << " is colour " << int(p[i])
            << "; the title is brick (4, 8) on 0, so that bullets break it away";
        brick += p[i] != 0;
    }
    EXPECT_GE(brick * 5, w * h) << "the title is mostly empty";
    for (size_t i = end; i < kTitleBytes; ++i)
        ASSERT_EQ(p[i], 0) << "byte " << i << " after the title picture";
}

TEST_F(GraphicsPack, PaletteIsVgaRangeWithBlackZero) {
    for (int c = 0; c < 256; ++c)
        for (int k = 0; k < 3; ++k) ASSERT_LE(Component(c, k), 63) << "colour " << c;
    EXPECT_EQ(Component(0, 0) + Component(0, 1) + Component(0, 2), 0);
}

TEST_F(GraphicsPack, PaletteKeepsTextFramesAndBulletsReadable) {
    EXPECT_GE(Luma(15), 55) << "bullets and text are colour 15";
    EXPECT_GE(Luma(15) - Luma(0), 40);
    EXPECT_GE(Luma(12) - Luma(0), 20) << "GAME OVER and scores, colour 12 on black";
    EXPECT_GE(Luma(208) - Luma(0), 20) << "the editor's help, colour 0 on the panel (208)";
    // Sunken frames: dark edge 8 and light edge 15 on the panel colour.
    EXPECT_LT(Luma(8) + 8, Luma(208));
    EXPECT_LT(Luma(208) + 8, Luma(15));
    EXPECT_GE(Luma(254), 20) << "the base must show on black";
    EXPECT_GE(Distance(1, 0), 12);
    EXPECT_GE(Distance(9, 1), 12) << "the two water colours";
}

// Player 2 is player 1 plus 64 and the carriers are the computer tanks plus 16: the twins
// must keep the shading (similar brightness) and change the look over most of the tank.
TEST_F(GraphicsPack, RecolouredTwinsKeepShadingAndChangeTheLook) {
    struct Twin {
        int first, last, offset;
        std::vector<int> sprites;
    };
    const Twin twins[] = {{133, 143, 64, {0, 8, 16, 24}}, {68, 79, 16, {32, 40, 48, 56}}};
    for (const Twin& t : twins) {
        for (int c = t.first; c <= t.last; ++c)
            EXPECT_LE(std::abs(Luma(c) - Luma(c + t.offset)), 14)
                << "colour " << c << " and its twin " << c + t.offset;
        for (int s : t.sprites) {
            int solid = 0, changed = 0;
            for (int i = 0; i < 256; ++i) {
                int v = Px(s, i % 16, i / 16);
                if (v == 255 || v == 0) continue;
                ++solid;
                changed += Distance(v, (v + t.offset) % 256) >= 15;
            }
            EXPECT_GE(changed * 2, solid)
                << "sprite " << s << " with offset " << t.offset << " looks too much like itself";
        }
    }
}

TEST_F(GraphicsPack, TanksKeepToTheirColourClasses) {
    for (int s = 0; s < 32; ++s)
        ExpectColours(
            s, [](int v) { return v == 255 || v == 0 || In(v, 133, 143); },
            "players' tanks use 0 and 133..143 (player 2 adds 64)");
    for (int s = 32; s < 64; ++s)
        ExpectColours(
            s, [](int v) { return v == 255 || v == 0 || In(v, 68, 79); },
            "computer tanks use 0 and 68..79 (carriers add 16)");
}

// Tanks find each other only through the line of pixels just outside their own square, so
// the outer rows and columns of a tank must be mostly solid: not transparent and not 0. Any
// such line that meets a tank's side takes in one of its corners; the middle of the muzzle
// side may be open (the turret's width), since a tank's own first shot probes there.
TEST_F(GraphicsPack, TankEdgesAreSolidEnoughToBeSeen) {
    for (int s = 0; s < 64; ++s) {
        for (int edge = 0; edge < 4; ++edge) {
            int solid = 0, gap = 0, widestGap = 0;
            for (int i = 0; i < 16; ++i) {
                int x = edge == 0 ? i : edge == 1 ? i : edge == 2 ? 0 : 15;
                int y = edge == 0 ? 0 : edge == 1 ? 15 : i;
                int v = Px(s, x, y);
                bool isSolid = v != 255 && v != 0;
                solid += isSolid;
                gap = isSolid ? 0 : gap + 1;
                widestGap = std::max(widestGap, gap);
                if (i == 0 || i == 15) {
                    EXPECT_TRUE(isSolid) << "sprite " << s << " corner (" << x << ", " << y << ")";
                }
            }
            const char* name[] = {"top", "bottom", "left", "right"};
            EXPECT_GE(solid, 8) << "sprite " << s << " " << name[edge] << " edge";
            EXPECT_LE(widestGap, 8) << "sprite " << s << " " << name[edge] << " edge";
        }
    }
}

TEST_F(GraphicsPack, TankPicturesAreAllDistinct) {
    for (int set = 0; set < 8; ++set) {
        int b = set * 8;
        for (int i = 0; i < 8; ++i)
            for (int j = i + 1; j < 8; ++j)
                EXPECT_FALSE(Same(b + i, b + j))
                    << "sprites " << b + i << " and " << b + j
                    << " are equal: facings and track pictures must differ";
    }
    // Upgrade levels and computer-tank kinds must be told apart at a glance.
    for (int a = 0; a < 4; ++a)
        for (int b = a + 1; b < 4; ++b) {
            EXPECT_FALSE(Same(a * 8, b * 8)) << "upgrade levels " << a << " and " << b;
            EXPECT_NE(Footprint(32 + a * 8), Footprint(32 + b * 8))
                << "computer kinds " << a << " and " << b << " have the same outline";
        }
}

TEST_F(GraphicsPack, BaseBecomesBaseColourAndCanBeHitFromEveryLine) {
    ExpectColours(
        64, [](int v) { return v == 255 || v == 40 || v == 42; },
        "the base uses 40 (254 in play) and 42 (0 in play)");
    for (int i = 0; i < 16; ++i) {
        bool row = false, column = false;
        for (int j = 0; j < 16; ++j) {
            row = row || Px(64, j, i) == 40;
            column = column || Px(64, i, j) == 40;
        }
        EXPECT_TRUE(row) << "a bullet along row " << i << " of the base would miss it";
        EXPECT_TRUE(column) << "a bullet along column " << i << " of the base would miss it";
    }
}

TEST_F(GraphicsPack, WallTilesKeepToBrickAndSteel) {
    auto brick = [](int v) { return v == 255 || v == 0 || v == 4 || v == 8; };
    auto steel = [](int v) { return v == 255 || v == 0 || In(v, 17, 31); };
    for (int s : {65, 67, 68, 69, 70}) {
        ExpectColours(s, brick, "brick tiles use 0, 4 and 8");
        EXPECT_GT(Opaque(s), 0) << "sprite " << s;
    }
    for (int s : {66, 72, 73, 74}) {
        ExpectColours(s, steel, "steel tiles use 0 and 17..31");
        EXPECT_GT(Opaque(s), 0) << "sprite " << s;
    }
    EXPECT_EQ(Opaque(65), 256) << "a whole brick cell";
    EXPECT_EQ(Opaque(66), 256) << "a whole steel cell";
}

// The fortification paints steel pieces over brick pieces and back, so each pair must cover
// exactly the same pixels, and each piece must hug the base from its side.
TEST_F(GraphicsPack, BasePiecesMatchTheirSteelTwinsAndHugTheBase) {
    struct Piece {
        int brick, steel, x0, x1, y0, y1;
    };
    const Piece pieces[] = {{67, 72, 0, 15, 8, 15},  // code 4, above the base: bottom half
                            {68, 73, 8, 15, 0, 15},  // code 5, left of it: right half
                            {69, 74, 0, 7, 0, 15}};  // code 6, right of it: left half
    for (const Piece& p : pieces) {
        EXPECT_EQ(Footprint(p.brick), Footprint(p.steel))
            << "sprites " << p.brick << " and " << p.steel;
        int inside = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                bool half = x >= p.x0 && x <= p.x1 && y >= p.y0 && y <= p.y1;
                if (Px(p.brick, x, y) == 255) continue;
                EXPECT_TRUE(half) << "sprite " << p.brick << " pixel (" << x << ", " << y
                                  << ") lies outside its half";
                inside += half;
            }
        EXPECT_GE(inside * 4, 128 * 3) << "sprite " << p.brick << " leaves its half open";
    }
}

TEST_F(GraphicsPack, WaterFillsItsCellInWaterColours) {
    for (int s : {76, 77})
        ExpectColours(
            s, [](int v) { return v == 1 || v == 9; },
            "water is colours 1 and 9 over the whole cell");
    EXPECT_FALSE(Same(76, 77)) << "the animated tile needs two pictures";
}

TEST_F(GraphicsPack, RockBlocksAndNeverBreaks) {
    auto outsideEveryClass = [](int v) {
        return v == 255 || v == 0 ||
               !(v == 1 || v == 9 || v == 4 || v == 8 || v == 15 || In(v, 17, 31) ||
                 In(v, 65, 96) || In(v, 128, 143) || In(v, 196, 212) || v == 254);
    };
    ExpectColours(71, outsideEveryClass, "the rock uses colours outside every class");
    EXPECT_GE(Opaque(71) * 4, 256 * 3) << "the rock should fill most of its cell";
}

TEST_F(GraphicsPack, CoverHidesTanksOnlyPartly) {
    int opaque = Opaque(75);
    EXPECT_GE(opaque * 10, 256 * 4) << "too little foliage";
    EXPECT_LE(opaque * 100, 256 * 85) << "the cover needs gaps to see tanks through";
}

TEST_F(GraphicsPack, EntryStarIsSeenAsATank) {
    for (int s : {78, 79}) {
        ExpectColours(
            s, [](int v) { return v == 255 || In(v, 68, 79); },
            "the entry star blocks tanks like a computer tank: 68..79");
        EXPECT_GT(Opaque(s), 16) << "sprite " << s;
    }
    EXPECT_FALSE(Same(78, 79));
}

TEST_F(GraphicsPack, BurstGrowsInBurstColours) {
    for (int s = 88; s <= 90; ++s) {
        ExpectColours(
            s, [](int v) { return v == 255 || In(v, 65, 67) || In(v, 80, 83); },
            "a burst uses 65..67 and 80..83: computer tanks' bullets pass through, "
            "players' bullets stop on it");
        // Drawn at the bullet's position less 7: the middle of the sprite is the impact.
        EXPECT_NE(Px(s, 7, 7), 255) << "sprite " << s;
        EXPECT_NE(Px(s, 8, 8), 255) << "sprite " << s;
    }
    EXPECT_LT(Opaque(88), Opaque(89));
    EXPECT_LT(Opaque(89), Opaque(90));
}

TEST_F(GraphicsPack, ExplosionSwellsThenBurnsOut) {
    EXPECT_GE(Opaque(91), Opaque(90)) << "the explosion grows out of the burst";
    auto meanLuma = [](int s) {
        double sum = 0;
        int n = 0;
        for (int i = 0; i < 256; ++i)
            if (int v = Px(s, i % 16, i / 16); v != 255) sum += Luma(v), ++n;
        return n ? sum / n : 0.0;
    };
    EXPECT_GT(meanLuma(91), meanLuma(92));
    EXPECT_GT(meanLuma(92), meanLuma(93));
    EXPECT_GT(Opaque(93), 0);
}

TEST_F(GraphicsPack, BonusesAndShieldArePresentAndDistinct) {
    for (int a = 80; a <= 85; ++a) {
        EXPECT_GT(Opaque(a), 64) << "bonus sprite " << a;
        for (int b = a + 1; b <= 85; ++b) EXPECT_FALSE(Same(a, b)) << a << " and " << b;
    }
    EXPECT_FALSE(Same(86, 87)) << "the shield shimmers between two pictures";
    for (int s : {86, 87}) {
        int clear = 0;
        for (int y = 4; y < 12; ++y)
            for (int x = 4; x < 12; ++x) clear += Px(s, x, y) == 255;
        EXPECT_GE(clear, 48) << "shield sprite " << s << " hides the tank under it";
        EXPECT_GT(Opaque(s), 16);
    }
}

}  // namespace
