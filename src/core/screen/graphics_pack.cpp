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
    // The frame may keep sprites drawn from the sheet as it was.
    game.FrameScreen.repeats.drawnCount = 0;
    CopyRead(files.Read(kGraphicsFile, kPaletteOffset, game.GamePalette.size()),
             game.GamePalette.data(), game.GamePalette.size());
    CopyRead(files.Read(kGraphicsFile, kSpritesOffset, 16384), game.SpriteSheet.data(), 16384);
    CopyRead(files.Read(kGraphicsFile, kSpritesOffset + 16384, 7680),
             game.SpriteSheet.data() + 16384, 7680);
    NoteSpriteSheet(game);
    return 0;
}

SpriteInk InkOf(const uint8_t* sprite) {
    SpriteInk ink;
    for (int row = 0; row < 16; ++row) {
        unsigned columns = 0;  // bit c: ink in column c
        for (int col = 0; col < 16; ++col)
            columns |= unsigned(sprite[row * 16 + col] != kTransparent) << col;
        for (unsigned split = 1; split <= 16; ++split) {
            const unsigned first = (1u << split) - 1;
            ink.rows[split - 1][0] |= uint16_t(unsigned((columns & first) != 0) << row);
            ink.rows[split - 1][1] |= uint16_t(unsigned((columns & ~first) != 0) << row);
        }
    }
    return ink;
}

void NoteSpriteSheet(Game& game) {
    for (int s = 0; s < kSpriteCount; ++s)
        game.spriteInk[size_t(s)] = InkOf(game.SpriteSheet.data() + s * kSpriteBytes);
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
    game.TitlePicture.MarkAll();
    CopyRead(data, game.TitlePicture.bytes.data(), kTitleBytes);
}

void DrawSprite(Game& game, int x, int y, int sprite, ScreenBuffer& destination,
                uint8_t colourOffset) {
    if (sprite < 0 || sprite >= kSpriteCount) return;
    const uint8_t* source = game.SpriteSheet.data() + sprite * kSpriteBytes;
    uint8_t* target = destination.bytes.data();
    // Sixteen pixels at a time: 255 keeps the target, other pixels take the colour offset
    // unless they are 0 (byte arithmetic wraps modulo 256).
    typedef uint8_t Row __attribute__((vector_size(16)));
    const Row offset = Row{} + colourOffset;
    // The target offset is unsigned, as is the stop test after each row: a sprite reaching
    // below the screen draws into the slack after it and then stops.
    uint32_t o = uint32_t(y * kScreenWidth + x);
    if (uint64_t(o) + 15 * kScreenWidth <= uint64_t(kScreenPixels)) {
        const uint64_t key = o | uint64_t(colourOffset) << 32;
        if (destination.SpriteKept(key, source)) return;
        // Every row on the screen: the blocks that take a pixel are noted at once. A row that
        // reaches into the next block notes it only when a pixel there is not transparent.
        const int split = kBlockBytes - int(o % kBlockBytes);  // bytes of a row in its block
        const SpriteInk& ink = game.spriteInk[size_t(sprite)];
        assert(ink == InkOf(source) && "the sheet was written without NoteSpriteSheet");
        const unsigned rows = ink.rows[size_t(std::min(split, 16) - 1)][0],
                       next = ink.rows[size_t(std::min(split, 16) - 1)][1];
        destination.MarkSprite(o, rows, next, key, source);
        // Row by row down the sprite; a row that is all 255 writes nothing.
        auto draw = [&](auto recolour) {
            uint8_t* at = target + o;
            for (unsigned r = rows | next; r; r >>= 1, at += kScreenWidth, source += 16) {
                if (!(r & 1)) continue;
                Row v, old;
                std::memcpy(&v, source, 16);
                std::memcpy(&old, at, 16);
                const Row keep = Row(v == 255);
                const Row out = (old & keep) | (recolour(v) & ~keep);
                std::memcpy(at, &out, 16);
            }
        };
        if (colourOffset == 0)
            draw([](Row v) { return v; });
        else
            draw([&](Row v) { return v + (offset & ~Row(v == 0)); });
        return;
    }
    for (int row = 0; row < 16; ++row, source += 16) {
        if (o <= uint32_t(kScreenBytes - 16)) {
            uint64_t halves[2];
            std::memcpy(halves, source, 16);
            if ((halves[0] & halves[1]) != ~uint64_t(0)) {  // a row all transparent writes nothing
                destination.Mark(o, o + 15);
                Row v, old;
                std::memcpy(&v, source, 16);
                std::memcpy(&old, target + o, 16);
                const Row keep = Row(v == 255);
                v = v + (offset & ~Row(v == 0));
                const Row out = (old & keep) | (v & ~keep);
                std::memcpy(target + o, &out, 16);
            }
        } else {
            for (int col = 0; col < 16; ++col) {  // a row reaching past the buffer's end
                uint8_t v = source[col];
                if (v == kTransparent || o + uint32_t(col) >= uint32_t(kScreenBytes)) continue;
                if (colourOffset != 0 && v != 0) v = uint8_t(v + colourOffset);
                destination.Mark(o + uint32_t(col), o + uint32_t(col));
                target[o + uint32_t(col)] = v;
            }
        }
        o += kScreenWidth;
        if (o > uint32_t(kScreenPixels)) break;
    }
}

}  // namespace kdv
