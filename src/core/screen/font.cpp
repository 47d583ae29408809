#include "core/screen/font.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "core/game.h"

namespace kdv {

uint16_t LoadFont(Game& game, const std::string& path, uint8_t* buffer, size_t bufferSize) {
    if (game.FontCount >= kMaxFonts) return 0;
    auto head = game.io.files->Read(path, 0, 2);
    if (!head) return 0;

    uint16_t slot = 0;
    for (uint16_t i = kMaxFonts; i >= 1; --i) {
        if (game.GraphicsTable[i].data == buffer) {
            slot = i;
            break;
        }
    }
    if (slot == 0) slot = ++game.FontCount;

    GraphicsEntry& entry = game.GraphicsTable[slot];
    if (head->size() >= 1) entry.width = (*head)[0];
    if (head->size() >= 2) entry.height = (*head)[1];
    const bool narrow = entry.width <= 8 && entry.height <= 8;
    const size_t block = narrow ? 2050 : 8194;
    auto glyphs = game.io.files->Read(path, 2, block);
    if (glyphs && !glyphs->empty())
        std::memcpy(buffer, glyphs->data(), std::min({glyphs->size(), block, bufferSize}));
    entry.data = buffer;
    entry.size = bufferSize;
    return slot;
}

void PutTextPixel(Game& game, int x, int y, uint8_t colour) {
    if (unsigned(x) <= 319 && unsigned(y) <= 199) game.FrameScreen.Set(x, y, colour);
}

namespace {

// Sets the pixels of one glyph row: bit (width - 1 - i) of `bits` is column x + i. The row's
// blocks are noted once, as the pixels would have noted them one by one.
void PutTextRow(Game& game, int x, int y, uint8_t colour, unsigned bits, int width) {
    if (bits == 0 || unsigned(y) > 199) return;
    const int from = std::max(0, -x), to = std::min(width, kScreenWidth - x);  // columns shown
    int first = -1, last = -1;
    for (int i = from; i < to; ++i)
        if (bits & (1u << (width - 1 - i))) {
            if (first < 0) first = i;
            last = i;
        }
    if (first < 0) return;
    ScreenBuffer& frame = game.FrameScreen;
    const size_t row = size_t(y) * kScreenWidth + size_t(x);
    frame.Mark(row + size_t(first), row + size_t(last));
    for (int i = first; i <= last; ++i)
        if (bits & (1u << (width - 1 - i))) frame.bytes[row + size_t(i)] = colour;
}

}  // namespace

void DrawGlyph(Game& game, int x, int y, uint8_t colour, const uint8_t* data, size_t dataSize,
               uint8_t character, int rows, int width) {
    if (width > 8 || rows > 8) {
        // A font taller than its layout would read other glyphs and beyond the buffer.
        rows = std::min(rows, 16);
        for (int r = 0; r < rows; ++r) {
            size_t at = size_t(character) * 32 + size_t(r) * 2;
            if (at + 1 >= dataSize) return;
            unsigned word = unsigned(data[at]) | unsigned(data[at + 1]) << 8;
            PutTextRow(game, x, y + r, colour, word, 16);
        }
    } else {
        for (int r = 0; r < rows; ++r) {
            size_t at = size_t(character) * 8 + size_t(r);
            if (at >= dataSize) return;
            PutTextRow(game, x, y + r, colour, data[at], 8);
        }
    }
}

uint16_t GlyphInkWidth(uint8_t character, const uint8_t* data, size_t dataSize) {
    uint16_t widest = 0;
    for (int r = 0; r < 8; ++r) {
        size_t at = size_t(character) * 8 + size_t(r);
        if (at >= dataSize) break;
        unsigned bits = data[at];
        if (bits == 0) continue;
        const int k = __builtin_ctz(bits) + 1;  // position of the lowest set bit, counted from 1
        widest = std::max<uint16_t>(widest, uint16_t(8 - k));
    }
    return widest;
}

void DrawText(Game& game, uint16_t slot, uint16_t x, uint16_t y, uint8_t colour,
              std::string_view text) {
    if (slot == 0 || slot > kMaxFonts) return;
    const GraphicsEntry& entry = game.GraphicsTable[slot];
    if (!entry.data) return;
    long pos = x;
    for (char ch : text) {
        const uint8_t c = uint8_t(ch);
        DrawGlyph(game, int(pos), y, colour, entry.data, entry.size, c, entry.height, entry.width);
        uint16_t ink = GlyphInkWidth(c, entry.data, entry.size);
        long advance = ink != 0 ? ink + 2 : std::max(0, entry.width - 2);
        pos += advance;
        if (pos > 65535) throw std::overflow_error("text runs past x = 65535");
    }
}

}  // namespace kdv
