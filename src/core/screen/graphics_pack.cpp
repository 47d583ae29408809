#include "core/screen/graphics_pack.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "core/game.h"

namespace kdv {
namespace {

// Copies what a read returned; a short read leaves the rest of the target as it was.
void CopyRead(const std::optional<std::vector<uint8_t>>& data, uint8_t* target, size_t room) {
    if (data && !data->empty()) std::memcpy(target, data->data(), std::min(room, data->size()));
}

}  // namespace

uint16_t LoadAssets(Game& game) {
    FileSystem& files = *game.io.files;
    if (!files.CanOpen(kLevelFile)) return 6;
    if (!files.CanOpen(kGraphicsFile)) return 4;
    CopyRead(files.Read(kGraphicsFile, kPaletteOffset, game.GamePalette.size()),
             game.GamePalette.data(), game.GamePalette.size());
    CopyRead(files.Read(kGraphicsFile, kSpritesOffset, 16384), game.SpriteSheet.data(), 16384);
    CopyRead(files.Read(kGraphicsFile, kSpritesOffset + 16384, 7680),
             game.SpriteSheet.data() + 16384, 7680);
    NoteSpriteSheet(game);
    return 0;
}

void NoteSpriteSheet(Game& game) {
    for (int s = 0; s < kSpriteCount; ++s)
        game.spriteInk[size_t(s)] = InkOf(game.SpriteSheet.data() + s * kSpriteBytes);
    for (ScreenBuffer* screen : {&game.FrameScreen, &game.BackScreen}) screen->ForgetSprites();
}

std::string AssetErrorText(uint16_t code) {
    switch (code) {
        case 0:
            return "Ok";
        case 4:
            return "File \"data\\tank.grp\" not found";
        case 6:
            return "File \"data\\lswap.dat\" not found";
        default:
            return "Unknown error!";
    }
}

void LoadTitlePicture(Game& game) {
    auto data = game.io.files->Read(kGraphicsFile, 0, kTitleBytes);
    if (!data) throw FileError("File \"data\\tank.grp\" cannot be opened");
    game.TitlePicture.Load(std::span(*data).first(std::min(data->size(), size_t(kTitleBytes))));
}

void DrawSprite(Game& game, int x, int y, int sprite, ScreenBuffer& destination,
                uint8_t colourOffset) {
    if (sprite < 0 || sprite >= kSpriteCount) return;
    const uint8_t* pixels = game.SpriteSheet.data() + sprite * kSpriteBytes;
    const SpriteInk& ink = game.spriteInk[size_t(sprite)];
    assert(ink == InkOf(pixels) && "the sheet was written without NoteSpriteSheet");
    destination.DrawSprite(x, y, pixels, ink, colourOffset);
}

}  // namespace kdv
