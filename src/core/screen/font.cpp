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
    game.FrameScreen.repeats.drawnCount = 0;  // glyphs kept in the frame may be from this buffer
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
    // Columns outside 0..319 are dropped: column i is bit (width - 1 - i).
    const int from = std::max(0, -x), to = std::min(width, kScreenWidth - x);
    if (from >= to) return;
    bits &= ((1u << (width - from)) - 1) & ~((1u << (width - to)) - 1);
    if (bits == 0) return;
    ScreenBuffer& frame = game.FrameScreen;
    const size_t row = size_t(y) * kScreenWidth + size_t(x);
    const int first = width - 1 - (31 - __builtin_clz(bits)),
              last = width - 1 - __builtin_ctz(bits);
    frame.Mark(row + size_t(first), row + size_t(last));
    for (; bits; bits &= bits - 1)
        frame.bytes[row + size_t(width - 1 - __builtin_ctz(bits))] = colour;
}

// Eight pixels at a time: the ink bytes take the colour, the others keep theirs.
constexpr auto kInk = [] {
    std::array<uint64_t, 256> ink{};
    for (int b = 0; b < 256; ++b)
        for (int i = 0; i < 8; ++i)
            if (b & (0x80 >> i)) ink[size_t(b)] |= uint64_t(0xFF) << (8 * i);
    return ink;
}();

void Put8(uint8_t* at, unsigned byte, uint64_t paint) {
    if (byte == 0) return;
    const uint64_t ink = kInk[byte];
    uint64_t old;
    std::memcpy(&old, at, 8);
    old = (old & ~ink) | (paint & ink);
    std::memcpy(at, &old, 8);
}

// An 8 x 8 glyph's rows as one word, row r in byte r.
uint64_t GlyphRows(const uint8_t* glyph) {
    uint64_t rows;
    std::memcpy(&rows, glyph, 8);
    if constexpr (std::endian::native == std::endian::big) rows = __builtin_bswap64(rows);
    return rows;
}

// Bit r set for each byte r of `rows` that is not 0.
unsigned InkRows(uint64_t rows) {
    constexpr uint64_t kHigh = 0x8080808080808080u;
    const uint64_t any = (rows | ((rows & ~kHigh) + ~kHigh)) & kHigh;
    // Byte r's high bit, 8 r + 7, lands on bit 56 + r, and no two products meet.
    return unsigned((any >> 7) * 0x0102040810204080u >> 56);
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
// screen, is drawn as one sprite: its blocks noted at once, and kept as one where it is drawn
// again as it was. False, with nothing drawn, for any other line.
bool PutLine(Game& game, const GraphicsEntry& font, int x, int y, uint8_t colour,
             std::string_view text) {
    const int count = font.height;
    if (text.size() > 16 || font.width > 8 || count <= 0 || count > 8 || y + count > kScreenHeight)
        return false;
    const uint64_t shown = count == 8 ? ~uint64_t(0) : (uint64_t(1) << (8 * count)) - 1;
    struct Glyph {
        int x;
        uint64_t rows;
    };
    // A line the frame still shows as it was drawn from these glyphs was laid out and found
    // whole then: it need not be laid out again.
    uint64_t chars[2] = {};
    for (size_t i = 0; i < text.size(); ++i)
        chars[i / 8] |= uint64_t(uint8_t(text[i])) << (8 * (i % 8));
    ScreenBuffer& frame = game.FrameScreen;
    const uint64_t key = (size_t(y) * kScreenWidth + size_t(x)) | uint64_t(colour) << 32 |
                         uint64_t(count) << 40 | uint64_t(text.size()) << 44 |
                         SpriteRepeats::kTextKey;
    if (frame.SpriteKept(key, font.data, chars)) return true;
    std::array<Glyph, 16> glyphs;
    int drawn = 0;
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
    if (pos > 65535) return false;  // glyph by glyph, which stops there
    if (drawn == 0) return true;
    // The glyphs' blocks, from the first glyph's first word: eight rows of a line lie within
    // three words of it.
    const int w0 = int((size_t(y) * kScreenWidth + size_t(glyphs[0].x)) / kBlockBytes) >> 6;
    uint64_t all[4] = {};
    for (int i = 0; i < drawn; ++i) {
        const size_t first = size_t(y) * kScreenWidth + size_t(glyphs[size_t(i)].x);
        const int split = kBlockBytes - int(first % kBlockBytes);
        const uint64_t inFirst =
            split >= 8 ? ~uint64_t(0)
                       : uint64_t(0xFF & ~((1u << (8 - split)) - 1)) * 0x0101010101010101u;
        const uint64_t rows = glyphs[size_t(i)].rows;
        int w;
        uint64_t bits[4];
        ScreenBuffer::RowBits(first, InkRows(rows & inFirst), InkRows(rows & ~inFirst), w, bits);
        for (int k = 0; k < 4; ++k) {
            if (!bits[k]) continue;
            if (w - w0 + k >= 4) return false;  // never, for eight rows
            all[w - w0 + k] |= bits[k];
        }
    }
    frame.MarkSpriteBits(w0, all, key, font.data, chars);
    const uint64_t paint = uint64_t(colour) * 0x0101010101010101u;
    for (int i = 0; i < drawn; ++i) {
        uint8_t* row = frame.bytes.data() + size_t(y) * kScreenWidth + size_t(glyphs[size_t(i)].x);
        for (int r = 0; r < count; ++r, row += kScreenWidth)
            Put8(row, unsigned(glyphs[size_t(i)].rows >> (8 * r)) & 0xFF, paint);
    }
    return true;
}

}  // namespace

// A glyph wholly on the screen, rows of `width` pixels (8 or 16, at most 16 rows), read from
// `from`: its blocks are noted at once, as the pixels would have noted them one by one.
void PutGlyph(Game& game, int x, int y, uint8_t colour, const unsigned* bits, int rows, int width,
              const uint8_t* from) {
    ScreenBuffer& frame = game.FrameScreen;
    const size_t first = size_t(y) * kScreenWidth + size_t(x);
    // Told apart from sprites, which leave the bits from 40 up clear.
    const uint64_t key =
        first | uint64_t(colour) << 32 | uint64_t(rows) << 40 | uint64_t(width) << 48 | 1ull << 63;
    if (frame.SpriteKept(key, from)) return;
    // Columns before `split` are in the first block of a row, the others in the next.
    const int split = kBlockBytes - int(first % kBlockBytes);
    const unsigned inFirst = split >= width ? (1u << width) - 1 : ~((1u << (width - split)) - 1);
    unsigned left = 0, right = 0;
    for (int r = 0; r < rows; ++r) {
        left |= unsigned((bits[r] & inFirst) != 0) << r;
        right |= unsigned((bits[r] & ~inFirst) != 0) << r;
    }
    frame.MarkSprite(first, left, right, key, from);
    const uint64_t paint = uint64_t(colour) * 0x0101010101010101u;
    auto put8 = [&](uint8_t* at, unsigned byte) { Put8(at, byte, paint); };
    for (int r = 0; r < rows; ++r) {
        uint8_t* row = frame.bytes.data() + first + size_t(r) * kScreenWidth;
        if (width == 16) {
            put8(row, bits[r] >> 8);
            put8(row + 8, bits[r] & 0xFF);
        } else {
            put8(row, bits[r]);
        }
    }
}

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
        return PutGlyph(game, x, y, colour, bits, shown, wide, data + base);
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
