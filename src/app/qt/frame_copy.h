#pragma once
// The pixel work of the drawing area, without Qt: taking over a new 16-bit frame while noting
// which part of it changed, and expanding 16-bit pixels to the 32-bit pixels the screen shows.
#include <cstddef>
#include <cstdint>

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

}  // namespace app
