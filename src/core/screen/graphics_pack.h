#pragma once
// The graphics pack (title picture, palette, sprite sheet) and sprite drawing.
#include <array>
#include <cstdint>
#include <string>

#include "core/screen/screen.h"

namespace kdv {

struct Game;

constexpr int kSpriteCount = 94;
constexpr int kSpriteBytes = 256;
constexpr int kSpriteSheetBytes = kSpriteCount * kSpriteBytes;
constexpr int kTitleBytes = 17668;  // width, height and at most 17,664 pixels
constexpr int kTitleMaxPixels = kTitleBytes - 4;
constexpr int kPaletteOffset = 17668;
constexpr int kSpritesOffset = 18436;
constexpr int kGraphicsPackBytes = kSpritesOffset + kSpriteSheetBytes;  // 42,500
constexpr uint8_t kTransparent = 255;
constexpr const char* kGraphicsFile = "data/tank.grp";
constexpr const char* kLevelFile = "data/lswap.dat";
constexpr const char* kFontFile = "data/tank.fnt";

// Entry 0 is the sprite sheet, entries 1..10 are fonts.
struct GraphicsEntry {
    uint8_t width = 0;
    uint8_t height = 0;
    uint8_t* data = nullptr;
    size_t size = 0;  // bytes the data may be read at
};

// Works out every sprite's ink again, and has the screens forget sprites drawn from the sheet
// as it was: after anything wrote into the sheet.
void NoteSpriteSheet(Game& game);

// 0 when loaded; 6 without a level file, 4 without a graphics pack.
uint16_t LoadAssets(Game& game);
std::string AssetErrorText(uint16_t code);
void LoadTitlePicture(Game& game);
void DrawSprite(Game& game, int x, int y, int sprite, ScreenBuffer& destination,
                uint8_t colourOffset);

}  // namespace kdv
