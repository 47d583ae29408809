#include "core/screen/screen.h"

#include <algorithm>
#include <cstring>

namespace kdv {

void ScreenBuffer::SetSize(uint16_t width, uint16_t height) {
    bytes[0] = uint8_t(width);
    bytes[1] = uint8_t(width >> 8);
    bytes[2] = uint8_t(height);
    bytes[3] = uint8_t(height >> 8);
}

void WorkBitmap::Resize(int w, int h) {
    width = w;
    height = h;
    const size_t count = size_t(w) * size_t(h);
    if (pixels.size() == count)
        std::memset(pixels.data(), 0, count * sizeof(uint16_t));  // the common case, and quick
    else
        pixels.assign(count, 0);
}

void BuildPixelTable(const Palette& palette, bool rgb565, PixelTable& table) {
    for (int i = 0; i < 256; ++i) {
        unsigned r = palette[i * 3], g = palette[i * 3 + 1], b = palette[i * 3 + 2];
        unsigned v =
            rgb565 ? (r / 2) * 2048 + g * 32 + b / 2 : (r / 2) * 1024 + (g / 2) * 32 + b / 2;
        table[i] = uint16_t(v);
    }
}

void FillScreen(ScreenBuffer& buffer, uint8_t colour) {
    std::memset(buffer.bytes.data(), colour, kScreenPixels);
}

void ClearFrame(ScreenBuffer& frame) {
    FillScreen(frame, 0);
}

void CopyToFrame(ScreenBuffer& frame, const ScreenBuffer& source) {
    std::memcpy(frame.bytes.data(), source.bytes.data(), kScreenPixels);
}

void PutBackPixel(ScreenBuffer& back, int x, int y, uint8_t colour) {
    if (x >= 0 && x < kScreenWidth && y >= 0 && y < kScreenHeight)
        back.bytes[size_t(y * kScreenWidth + x)] = colour;
}

// Lines are clipped pixel by pixel; the loops skip the part that cannot be on the screen.
void DrawBackHLine(ScreenBuffer& back, int x1, int x2, int y, uint8_t colour) {
    x1 = std::max(x1, 0);
    x2 = std::min(x2, kScreenWidth - 1);
    if (y < 0 || y >= kScreenHeight || x1 > x2) return;
    std::memset(back.bytes.data() + size_t(y * kScreenWidth + x1), colour, size_t(x2 - x1 + 1));
}

void DrawBackVLine(ScreenBuffer& back, int x, int y1, int y2, uint8_t colour) {
    for (int y = std::max(y1, 0); y <= std::min(y2, kScreenHeight - 1); ++y)
        PutBackPixel(back, x, y, colour);
}

void DrawSunkenFrame(ScreenBuffer& back, int x1, int y1, int x2, int y2) {
    DrawBackHLine(back, x1, x2, y1, 8);
    DrawBackVLine(back, x2, y1 + 1, y2, 15);
    DrawBackHLine(back, x1, x2, y2, 15);
    DrawBackVLine(back, x1, y1, y2 - 1, 8);
}

void FillBackRect(ScreenBuffer& back, int x1, int y1, int x2, int y2, uint8_t colour) {
    if (x1 > x2) std::swap(x1, x2);
    if (y1 > y2) std::swap(y1, y2);
    for (int y = std::max(y1, 0); y <= std::min(y2, kScreenHeight - 1); ++y)
        DrawBackHLine(back, x1, x2, y, colour);
}

void BlitPicture(ScreenBuffer& back, int x, int y, const ScreenBuffer& picture, int maxPixels) {
    const int width = picture.Width();
    const int height = picture.Height();
    if (width == 0) return;
    const int rows = std::min(height, maxPixels / width);
    for (int row = 0; row <= rows && row < height; ++row) {
        // The last row may be cut short by the pixels the picture holds.
        const int count = std::min(width, maxPixels - row * width);
        long target = long(y + row) * kScreenWidth + x;
        long first = std::max(0L, -target), last = std::min<long>(count, kScreenBytes - target);
        if (first < last)
            std::memcpy(back.bytes.data() + target + first,
                        picture.bytes.data() + 4 + long(row) * width + first, size_t(last - first));
    }
}

void PixelToRgb(uint16_t pixel, bool rgb565, uint8_t rgb[3]) {
    unsigned r, g, b;
    if (rgb565) {
        r = (pixel >> 11) & 31;
        g = (pixel >> 5) & 63;
        b = pixel & 31;
        rgb[1] = uint8_t(g << 2 | g >> 4);
    } else {
        r = (pixel >> 10) & 31;
        g = (pixel >> 5) & 31;
        b = pixel & 31;
        rgb[1] = uint8_t(g << 3 | g >> 2);
    }
    rgb[0] = uint8_t(r << 3 | r >> 2);
    rgb[2] = uint8_t(b << 3 | b >> 2);
}

}  // namespace kdv
