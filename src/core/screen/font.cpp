#include "core/screen/font.h"

#include <algorithm>
#include <array>
#include <bit>
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
    game.FrameScreen.ForgetSprites();  // glyphs kept in the frame may be from this buffer
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

// Sets the pixels of one glyph row: bit (width - 1 - i) of `bits` is column x + i. Columns
// outside 0..319 are dropped.
void PutTextRow(Game& game, int x, int y, uint8_t colour, unsigned bits, int width) {
    if (unsigned(y) > 199) return;
    for (; bits; bits &= bits - 1)
        PutTextPixel(game, x + width - 1 - __builtin_ctz(bits), y, colour);
}

// An 8 x 8 glyph's rows as one word, row r in byte r.
uint64_t GlyphRows(const uint8_t* glyph) {
    uint64_t rows;
    std::memcpy(&rows, glyph, 8);
    if constexpr (std::endian::native == std::endian::big) rows = __builtin_bswap64(rows);
    return rows;
}

// The rightmost ink column of an 8 x 8 glyph: the lowest bit set in any row.
uint16_t InkWidth(uint64_t rows) {
    rows |= rows >> 32;
    rows |= rows >> 16;
    rows |= rows >> 8;
    const unsigned ink = unsigned(rows & 0xFF);
    return ink == 0 ? 0 : uint16_t(7 - __builtin_ctz(ink));
}

// A line of no more than 16 characters of 8 x 8 glyphs, each glyph with ink wholly on the
// screen, is drawn as one sprite, and kept as one where it is drawn again as it was. False,
// with nothing drawn, for any other line.
bool PutLine(Game& game, const GraphicsEntry& font, int x, int y, uint8_t colour,
             std::string_view text) {
    const int count = font.height;
    if (text.size() > kMaxLineGlyphs || font.width > 8 || count <= 0 || count > 8 ||
        y + count > kScreenHeight)
        return false;
    SpriteId id{.from = font.data,
                .at = uint32_t(size_t(y) * kScreenWidth + size_t(x)),
                .kind = SpriteId::kLine,
                .colour = colour,
                .rows = uint8_t(count),
                .width = uint8_t(text.size())};
    for (size_t i = 0; i < text.size(); ++i)
        id.text[i / 8] |= uint64_t(uint8_t(text[i])) << (8 * (i % 8));
    // A line the frame still shows as it was drawn from these glyphs was laid out and found
    // whole then: it is not laid out again.
    return game.FrameScreen.DrawLine(
        id, [&](std::array<LineGlyph, kMaxLineGlyphs>& glyphs, int& drawn) {
            const uint64_t shown = count == 8 ? ~uint64_t(0) : (uint64_t(1) << (8 * count)) - 1;
            long pos = x;
            for (size_t i = 0; i < text.size(); ++i) {
                const uint8_t c = uint8_t(text[i]);
                if (size_t(c) * 8 + 8 > font.size) return false;
                const uint64_t rows = GlyphRows(font.data + size_t(c) * 8);
                if (rows & shown) {
                    if (pos > kScreenWidth - 8) return false;
                    glyphs[size_t(drawn++)] = {int(pos), rows & shown};
                }
                const uint16_t ink = InkWidth(rows);
                pos += ink != 0 ? ink + 2 : std::max(0, font.width - 2);
            }
            return pos <= 65535;  // else glyph by glyph, which stops there
        });
}

}  // namespace

void DrawGlyph(Game& game, int x, int y, uint8_t colour, const uint8_t* data, size_t dataSize,
               uint8_t character, int rows, int width) {
    const int wide = width > 8 || rows > 8 ? 16 : 8;
    const int shown = std::min(rows, wide);
    const size_t stride = wide == 16 ? 2 : 1;
    const size_t base = size_t(character) * (wide == 16 ? 32 : 8);
    // On the screen and in the buffer as a whole: all rows at once.
    if (shown > 0 && x >= 0 && x <= kScreenWidth - wide && y >= 0 && y + shown <= kScreenHeight &&
        base + size_t(shown) * stride <= dataSize) {
        unsigned bits[16];
        for (int r = 0; r < shown; ++r)
            bits[r] = wide == 16 ? unsigned(data[base + size_t(r) * 2]) |
                                       unsigned(data[base + size_t(r) * 2 + 1]) << 8
                                 : data[base + size_t(r)];
        return game.FrameScreen.DrawGlyph(x, y, colour, bits, shown, wide, data + base);
    }
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
    // The rightmost ink column of any row is the lowest bit set in any row.
    unsigned ink = 0;
    for (int r = 0; r < 8; ++r) {
        size_t at = size_t(character) * 8 + size_t(r);
        if (at >= dataSize) break;
        ink |= data[at];
    }
    return ink == 0 ? 0 : uint16_t(7 - __builtin_ctz(ink));
}

void DrawText(Game& game, uint16_t slot, uint16_t x, uint16_t y, uint8_t colour,
              std::string_view text) {
    if (slot == 0 || slot > kMaxFonts) return;
    const GraphicsEntry& entry = game.GraphicsTable[slot];
    if (!entry.data) return;
    if (PutLine(game, entry, x, y, colour, text)) return;
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
