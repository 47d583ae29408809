// The drawing area's pixel work: change detection, the 16 to 32-bit expansion (which must give
// the colours of the game's own screenshots), and where a frame lands when scaled.
#include <gtest/gtest.h>

#include <vector>

#include "app/qt/frame_copy.h"
#include "core/screen/screen.h"

namespace {

using app::PixelSpan;

constexpr int kW = 320, kH = 200;

TEST(CopyChanged, FindsTheBoundingBoxOfWhatChanged) {
    std::vector<uint16_t> source(kW * kH, 7), target(kW * kH, 7);
    EXPECT_TRUE(app::CopyChanged(source.data(), kW, target.data(), kW, kW, kH).Empty());

    source[0] = 1;
    PixelSpan span = app::CopyChanged(source.data(), kW, target.data(), kW, kW, kH);
    EXPECT_EQ(span.left, 0);
    EXPECT_EQ(span.top, 0);
    EXPECT_EQ(span.right, 0);
    EXPECT_EQ(span.bottom, 0);
    EXPECT_EQ(target, source);

    source[kW * kH - 1] = 2;
    source[50 * kW + 100] = 3;
    source[60 * kW + 90] = 4;
    span = app::CopyChanged(source.data(), kW, target.data(), kW, kW, kH);
    EXPECT_EQ(span.left, 90);
    EXPECT_EQ(span.top, 50);
    EXPECT_EQ(span.right, kW - 1);
    EXPECT_EQ(span.bottom, kH - 1);
    EXPECT_EQ(target, source);
    EXPECT_TRUE(app::CopyChanged(source.data(), kW, target.data(), kW, kW, kH).Empty());
}

TEST(CopyChanged, KeepsToTheRowsOfAPaddedTarget) {
    const int stride = kW + 6;
    std::vector<uint16_t> source(kW * kH), target(size_t(stride) * kH, 0xdead);
    for (size_t i = 0; i < source.size(); ++i) source[i] = uint16_t(i);
    const PixelSpan span = app::CopyChanged(source.data(), kW, target.data(), stride, kW, kH);
    EXPECT_EQ(span.left, 0);
    EXPECT_EQ(span.right, kW - 1);
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x)
            ASSERT_EQ(target[size_t(y * stride + x)], source[size_t(y * kW + x)]);
        for (int x = kW; x < stride; ++x) ASSERT_EQ(target[size_t(y * stride + x)], 0xdead);
    }
}

TEST(ExpandPixel, GivesTheColoursOfTheGamesScreenshots) {
    for (bool rgb565 : {false, true}) {
        for (uint32_t p = 0; p < 65536; ++p) {
            if (!rgb565 && (p & 0x8000)) continue;  // 5-5-5 leaves the top bit clear
            uint8_t rgb[3];
            kdv::PixelToRgb(uint16_t(p), rgb565, rgb);
            const uint32_t expected =
                0xff000000u | uint32_t(rgb[0]) << 16 | uint32_t(rgb[1]) << 8 | rgb[2];
            ASSERT_EQ(app::ExpandPixel(uint16_t(p), rgb565), expected) << p << " " << rgb565;
        }
    }
    EXPECT_EQ(app::ExpandPixel(0x7fff, false), 0xffffffffu);
    EXPECT_EQ(app::ExpandPixel(0xffff, true), 0xffffffffu);
    EXPECT_EQ(app::ExpandPixel(0x7c00, false), 0xffff0000u);
    EXPECT_EQ(app::ExpandPixel(0x07e0, true), 0xff00ff00u);
}

TEST(ExpandSpan, WritesOnlyTheSpan) {
    std::vector<uint16_t> source(kW * kH, 0x7fff);
    std::vector<uint32_t> target(kW * kH, 0);
    app::ExpandSpan(source.data(), kW, target.data(), kW, PixelSpan{10, 20, 12, 21}, false);
    int written = 0;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const bool inside = x >= 10 && x <= 12 && y >= 20 && y <= 21;
            EXPECT_EQ(target[size_t(y * kW + x)], inside ? 0xffffffffu : 0u);
            written += inside;
        }
    EXPECT_EQ(written, 6);
}

TEST(FitFrame, ScalesWithTheAspectRatioKeptAndCentres) {
    PixelSpan t = app::FitFrame(320, 200, 1280, 1024);
    EXPECT_EQ(t.left, 0);
    EXPECT_EQ(t.right, 1279);
    EXPECT_EQ(t.top, 112);
    EXPECT_EQ(t.bottom, 911);
    t = app::FitFrame(640, 400, 1920, 1080);
    EXPECT_EQ(t.left, 96);
    EXPECT_EQ(t.right, 96 + 1728 - 1);
    EXPECT_EQ(t.top, 0);
    EXPECT_EQ(t.bottom, 1079);
    t = app::FitFrame(640, 400, 640, 400);
    EXPECT_EQ(t.left, 0);
    EXPECT_EQ(t.top, 0);
    EXPECT_EQ(t.right, 639);
    EXPECT_EQ(t.bottom, 399);
    EXPECT_TRUE(app::FitFrame(320, 200, 0, 0).Empty());
}

// Every screen pixel that nearest-pixel scaling can take from a changed frame pixel must lie in
// the repainted rectangle, whether the painter samples pixel corners or pixel centres.
TEST(ScaleSpan, CoversEveryScreenPixelOfTheChangedPixels) {
    struct Case {
        int frameW, frameH, areaW, areaH;
    };
    for (Case c : {Case{320, 200, 1280, 1024}, Case{640, 400, 1920, 1080},
                   Case{320, 200, 1366, 768}, Case{640, 400, 1024, 768}}) {
        const PixelSpan target = app::FitFrame(c.frameW, c.frameH, c.areaW, c.areaH);
        const int tw = target.right - target.left + 1, th = target.bottom - target.top + 1;
        for (int s = 0; s < c.frameW; s += 7) {
            const PixelSpan span{s, s * c.frameH / c.frameW, s, s * c.frameH / c.frameW};
            const PixelSpan out =
                app::ScaleSpan(span, c.frameW, c.frameH, target, c.areaW, c.areaH);
            for (int x = target.left; x <= target.right; ++x) {
                const int corner = (x - target.left) * c.frameW / tw;
                const int centre = int((x - target.left + 0.5) * c.frameW / tw);
                if (corner == s || centre == s) {
                    ASSERT_TRUE(x >= out.left && x <= out.right) << x << " for column " << s;
                }
            }
            for (int y = target.top; y <= target.bottom; ++y) {
                const int corner = (y - target.top) * c.frameH / th;
                const int centre = int((y - target.top + 0.5) * c.frameH / th);
                if (corner == span.top || centre == span.top) {
                    ASSERT_TRUE(y >= out.top && y <= out.bottom) << y << " for row " << span.top;
                }
            }
            EXPECT_GE(out.left, 0);
            EXPECT_LT(out.right, c.areaW);
        }
    }
}

}  // namespace
