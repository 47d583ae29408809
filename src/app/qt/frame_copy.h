#pragma once
// The pixel work of the drawing area, without Qt: taking over a new 16-bit frame while noting
// which part of it changed, and expanding 16-bit pixels to the 32-bit pixels the screen shows.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/platform/services.h"

namespace app {

// A rectangle of pixels, both edges inclusive; empty when nothing changed.
struct PixelSpan {
    int left = 0, top = 0, right = -1, bottom = -1;
    bool Empty() const { return right < left || bottom < top; }
};

// Where a frame of frameWidth x frameHeight is shown in an area of the given size: as large as
// fits with its aspect ratio kept, centred. Returned as the inclusive pixel rectangle.
PixelSpan FitFrame(int frameWidth, int frameHeight, int areaWidth, int areaHeight);

// The pixels of the area that show the frame pixels of span when the frame is drawn into
// target (from FitFrame) with nearest-pixel scaling; a pixel of margin on each side allows for
// the painter's rounding. Clipped to the area.
PixelSpan ScaleSpan(const PixelSpan& span, int frameWidth, int frameHeight, const PixelSpan& target,
                    int areaWidth, int areaHeight);

// Copies a width x height frame over the previous one (strides in pixels) and returns the
// smallest rectangle that holds every pixel that differs.
PixelSpan CopyChanged(const uint16_t* source, size_t sourceStride, uint16_t* target,
                      size_t targetStride, int width, int height);

// One 16-bit pixel (5-6-5, or 5-5-5 with the top bit unused) as 0xffRRGGBB, each component
// widened by repeating its top bits (31 becomes 255).
constexpr uint32_t ExpandPixel(uint16_t pixel, bool rgb565) {
    uint32_t r, g, b;
    if (rgb565) {
        r = (pixel >> 11) & 31;
        g = (pixel >> 5) & 63;
        g = g << 2 | g >> 4;
    } else {
        r = (pixel >> 10) & 31;
        g = (pixel >> 5) & 31;
        g = g << 3 | g >> 2;
    }
    b = pixel & 31;
    r = r << 3 | r >> 2;
    b = b << 3 | b >> 2;
    return 0xff000000u | r << 16 | g << 8 | b;
}

// Expands the pixels of span from source into target (strides in pixels).
void ExpandSpan(const uint16_t* source, size_t sourceStride, uint32_t* target, size_t targetStride,
                const PixelSpan& span, bool rgb565);

// The 32-bit pixels of the 256 colour indices, each its 16-bit pixel expanded.
using ColourTable = std::array<uint32_t, 256>;
void BuildColourTable(const uint16_t* pixels16, bool rgb565, ColourTable& colours);

// Converts the runs of changed frame pixels (colour indices, 320 a row) straight into a 32-bit
// image of scale times the frame's size (stride in pixels), each frame pixel a scale x scale
// block. Returns the rectangle of image pixels written.
PixelSpan ConvertRuns(const uint8_t* frame, const std::vector<kdv::PixelRun>& runs,
                      const ColourTable& colours, int scale, uint32_t* image, size_t stride);

// Groups the runs of changed frame pixels (row by row, 320 a row) into rectangles of frame
// pixels to repaint: a run joins a rectangle that reached the row above or its own row and lies
// within gap pixels of it, else starts one. Two tanks on the same rows are two small rectangles,
// not one across the screen. The rectangles may overlap; together they hold every run.
void ChangedBoxes(const std::vector<kdv::PixelRun>& runs, int gap, std::vector<PixelSpan>& boxes);

// Brings the rectangle span of a scaled copy (width x height, stride in pixels) up to date
// with the image it shows (imageWidth x imageHeight), nearest pixel: scaled pixel (x, y) is
// image pixel (x * imageWidth / width, y * imageHeight / height).
void ScaleInto(const uint32_t* image, size_t imageStride, int imageWidth, int imageHeight,
               uint32_t* scaled, size_t stride, int width, int height, const PixelSpan& span);

}  // namespace app
