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

void DrawGlyph(Game& game, int x, int y, uint8_t colour, const uint8_t* data, size_t dataSize,
               uint8_t character, int rows, int width) {
    if (width > 8 || rows > 8) {
        // A font taller than its layout would read other glyphs and beyond the buffer.
        rows = std::min(rows, 16);
        for (int r = 0; r < rows; ++r) {
            size_t at = size_t(character) * 32 + size_t(r) * 2;
            if (at + 1 >= dataSize) return;
            unsigned word = unsigned(data[at]) | unsigned(data[at + 1]) << 8;
            for (int i = 0; i < 16; ++i)
                if (word & (1u << (15 - i))) PutTextPixel(game, x + i, y + r, colour);
        }
    } else {
        for (int r = 0; r < rows; ++r) {
            size_t at = size_t(character) * 8 + size_t(r);
            if (at >= dataSize) return;
            unsigned bits = data[at];
            for (int i = 0; i < 8; ++i)
                if (bits & (1u << (7 - i))) PutTextPixel(game, x + i, y + r, colour);
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
        int k = 1;  // position of the lowest set bit, counted from 1
        while (!(bits & 1u)) {
            bits >>= 1;
            ++k;
        }
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
