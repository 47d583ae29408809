#pragma once
// The bitmap font: 8 x 8 glyphs of one byte a row, or 16 x 16 of one word a row, with
// proportional spacing worked out from each glyph's ink.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kdv {

struct Game;

constexpr int kMaxFonts = 10;
constexpr size_t kFontBufferBytes = 8200;

// The font's slot in the graphics table, or 0 when the file cannot be read or the table is full.
uint16_t LoadFont(Game& game, const std::string& path, uint8_t* buffer, size_t bufferSize);
void DrawText(Game& game, uint16_t slot, uint16_t x, uint16_t y, uint8_t colour,
              std::string_view text);
void DrawGlyph(Game& game, int x, int y, uint8_t colour, const uint8_t* data, size_t dataSize,
               uint8_t character, int rows, int width);
// The column of the glyph's rightmost ink pixel in its 8 x 8 layout, 0 for no ink.
uint16_t GlyphInkWidth(uint8_t character, const uint8_t* data, size_t dataSize);
void PutTextPixel(Game& game, int x, int y, uint8_t colour);

}  // namespace kdv
