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

namespace {

// Runs converted straight from colour indices give the picture that expanding the whole
// 16-bit frame gives, and leave every other pixel alone; scaling a changed span into a copy
// of another size gives what scaling the whole picture gives.
TEST(ConvertRuns, MatchesTheWholeFrameExpandedAndScaled) {
    std::vector<uint8_t> frame(kW * kH);
    uint16_t table16[256];
    for (int i = 0; i < 256; ++i) table16[i] = uint16_t(i * 0x0101 * 37);
    app::ColourTable colours;
    app::BuildColourTable(table16, true, colours);
    for (int scale : {1, 2}) {
        const int w = kW * scale, h = kH * scale;
        const size_t stride = size_t(w) + 3;
        std::vector<uint32_t> image(stride * size_t(h), 0x12345678);
        for (size_t i = 0; i < frame.size(); ++i) frame[i] = uint8_t(i * 7 + 1);
        std::vector<kdv::PixelRun> runs = {{0, 320}, {5 * 320 + 10, 8}, {199 * 320 + 312, 8}};
        const PixelSpan span =
            app::ConvertRuns(frame.data(), runs, colours, scale, image.data(), stride);
        EXPECT_EQ(span.left, 0);
        EXPECT_EQ(span.top, 0);
        EXPECT_EQ(span.right, w - 1);
        EXPECT_EQ(span.bottom, h - 1);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int fx = x / scale, fy = y / scale, i = fy * kW + fx;
                const bool inRun =
                    fy == 0 || (fy == 5 && fx >= 10 && fx < 18) || (fy == 199 && fx >= 312);
                const uint32_t expected =
                    inRun ? app::ExpandPixel(table16[frame[size_t(i)]], true) : 0x12345678u;
                ASSERT_EQ(image[size_t(y) * stride + size_t(x)], expected) << x << "," << y;
            }

        // A window of another size: only the span is scaled again.
        const int sw = 1000, sh = 587;
        std::vector<uint32_t> whole(size_t(sw * sh)), part(size_t(sw * sh), 0);
        app::ScaleInto(image.data(), stride, w, h, whole.data(), sw, sw, sh,
                       {0, 0, sw - 1, sh - 1});
        const PixelSpan changed{100, 50, 400, 70};
        app::ScaleInto(image.data(), stride, w, h, part.data(), sw, sw, sh, changed);
        for (int y = 0; y < sh; ++y)
            for (int x = 0; x < sw; ++x) {
                const bool in = x >= 100 && x <= 400 && y >= 50 && y <= 70;
                ASSERT_EQ(part[size_t(y * sw + x)], in ? whole[size_t(y * sw + x)] : 0u);
            }
        EXPECT_EQ(whole[0], image[0]);
        EXPECT_EQ(whole[size_t(sw * sh - 1)], image[size_t(h - 1) * stride + size_t(w - 1)]);
    }
    EXPECT_TRUE(app::ConvertRuns(frame.data(), {}, colours, 2, nullptr, 0).Empty());
}

// Two tanks on the same rows, one more thing far below and a shot beside the first tank: the
// repaint is three small rectangles holding every changed pixel, not the rows' full breadth.
TEST(ChangedBoxes, KeepsApartWhatChangedFarApart) {
    std::vector<kdv::PixelRun> runs;
    auto at = [](int x, int y, int count) {
        return kdv::PixelRun{uint16_t(y * kW + x), uint16_t(count)};
    };
    for (int y = 40; y < 56; ++y) {
        runs.push_back(at(20, y, 16));
        if (y == 47) runs.push_back(at(40, y, 2));  // within the gap: the same rectangle
        runs.push_back(at(290, y, 16));
    }
    runs.push_back(at(100, 150, 3));
    std::vector<PixelSpan> boxes{{0, 0, 5, 5}};  // what was there is dropped
    app::ChangedBoxes(runs, 8, boxes);
    ASSERT_EQ(boxes.size(), 3u);
    long area = 0;
    for (const PixelSpan& box : boxes)
        area += long(box.right - box.left + 1) * (box.bottom - box.top + 1);
    EXPECT_EQ(area, 22 * 16 + 16 * 16 + 3);
    for (const kdv::PixelRun& run : runs) {
        const int y = run.first / kW, x = run.first % kW;
        bool held = false;
        for (const PixelSpan& box : boxes)
            held |=
                box.left <= x && x + run.count - 1 <= box.right && box.top <= y && y <= box.bottom;
        EXPECT_TRUE(held) << x << "," << y;
    }
    app::ChangedBoxes({}, 8, boxes);
    EXPECT_TRUE(boxes.empty());
}

}  // namespace
