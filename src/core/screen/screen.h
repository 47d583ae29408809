#pragma once
// The emulated 320 x 200 indexed screens, the palette, the pixel table and the plain drawing
// primitives. Every drawing call addresses a buffer by y * 320 + x from its first byte (the
// width field); the presenter shows the byte at 4 + r * 320 + c at display position (c, r), so
// whatever is drawn at (x, y) shows four columns to the left.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kdv {

constexpr int kScreenWidth = 320;
constexpr int kScreenHeight = 200;
constexpr int kScreenPixels = kScreenWidth * kScreenHeight;
constexpr int kPixelRoom = 64161;             // pixel field of a screen buffer, with slack
constexpr int kScreenBytes = 4 + kPixelRoom;  // width, height, pixels
constexpr int kPresentOffset = 4;             // drawing offset of the first shown pixel

// A picture or screen buffer: width and height (unsigned 16-bit, little-endian), then pixels.
struct ScreenBuffer {
    std::array<uint8_t, kScreenBytes> bytes{};

    uint16_t Width() const { return uint16_t(bytes[0] | bytes[1] << 8); }
    uint16_t Height() const { return uint16_t(bytes[2] | bytes[3] << 8); }
    void SetSize(uint16_t width, uint16_t height);
    // The byte at drawing position (x, y); outside the buffer reads as the frame colour, so
    // that nothing can see past the edges of memory.
    uint8_t At(int x, int y) const {
        long off = long(y) * kScreenWidth + x;
        return (off >= 0 && off < kScreenBytes) ? bytes[size_t(off)] : 208;
    }
    // Writes the byte at drawing position (x, y); nothing outside the buffer.
    void Set(int x, int y, uint8_t colour) {
        long off = long(y) * kScreenWidth + x;
        if (off >= 0 && off < kScreenBytes) bytes[size_t(off)] = colour;
    }
};

using Palette = std::array<uint8_t, 768>;  // 256 x (red, green, blue), each 0..63
using PixelTable = std::array<uint16_t, 256>;

// The 16-bit picture that is handed to the display: 320 x 200 or 640 x 400.
struct WorkBitmap {
    int width = 0;
    int height = 0;
    bool rgb565 = false;  // 5-6-5 pixels, else 5-5-5
    std::vector<uint16_t> pixels;

    void Resize(int w, int h);
};

// 15-bit (5-5-5) when rgb565 is false, 16-bit (5-6-5) otherwise.
void BuildPixelTable(const Palette& palette, bool rgb565, PixelTable& table);

void FillScreen(ScreenBuffer& buffer, uint8_t colour);
void ClearFrame(ScreenBuffer& frame);
void CopyToFrame(ScreenBuffer& frame, const ScreenBuffer& source);
void PutBackPixel(ScreenBuffer& back, int x, int y, uint8_t colour);
void DrawBackHLine(ScreenBuffer& back, int x1, int x2, int y, uint8_t colour);
void DrawBackVLine(ScreenBuffer& back, int x, int y1, int y2, uint8_t colour);
// Top and left in colour 8, bottom and right in colour 15.
void DrawSunkenFrame(ScreenBuffer& back, int x1, int y1, int x2, int y2);
void FillBackRect(ScreenBuffer& back, int x1, int y1, int x2, int y2, uint8_t colour);
// Opaque copy of a picture. The picture is limited to the pixels its buffer was loaded with
// (maxPixels) and to what fits in the target, so a bad size can never run outside memory.
void BlitPicture(ScreenBuffer& back, int x, int y, const ScreenBuffer& picture, int maxPixels);

// A 16-bit pixel expanded to 8 bits per component, for screenshots.
void PixelToRgb(uint16_t pixel, bool rgb565, uint8_t rgb[3]);

}  // namespace kdv
