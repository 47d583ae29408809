// The program's icon for the desktop: a player's tank from the graphics pack, enlarged by
// whole pixels so that the art stays crisp, on a transparent ground.
#include <cstdio>
#include <string>
#include <vector>

#include "assetc/assetc.h"
#include "assetc/grid_text.h"
#include "core/screen/graphics_pack.h"
#include "support/png.h"

namespace {

// The fully upgraded player tank facing up.
constexpr int kIconSprite = 24;
constexpr int kSpriteSide = 16;

}  // namespace

int RenderIcon(const std::string& graphicsFile, int size, const std::string& outFile) {
    if (size < kSpriteSide || size % kSpriteSide != 0) {
        std::fprintf(stderr, "assetc: an icon is a multiple of %d pixels square, not %d\n",
                     kSpriteSide, size);
        return 2;
    }
    std::vector<uint8_t> pack;
    try {
        pack = assetc::ReadBinaryFile(graphicsFile);
    } catch (const assetc::SourceError& e) {
        std::fprintf(stderr, "assetc: %s\n", e.what());
        return 1;
    }
    if (pack.size() < size_t(kdv::kGraphicsPackBytes)) {
        std::fprintf(stderr, "assetc: %s is not a graphics pack of %d bytes\n",
                     graphicsFile.c_str(), kdv::kGraphicsPackBytes);
        return 1;
    }
    const uint8_t* palette = pack.data() + kdv::kPaletteOffset;
    const uint8_t* sprite = pack.data() + kdv::kSpritesOffset + kIconSprite * kdv::kSpriteBytes;
    const int scale = size / kSpriteSide;
    std::vector<uint8_t> rgba(size_t(size) * size * 4, 0);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const uint8_t v = sprite[(y / scale) * kSpriteSide + x / scale];
            if (v == kdv::kTransparent) continue;
            uint8_t* p = &rgba[(size_t(y) * size + x) * 4];
            for (int k = 0; k < 3; ++k) p[k] = uint8_t(palette[v * 3 + k] * 255 / 63);
            p[3] = 255;
        }
    if (!support::WritePngRgba(outFile, size, size, rgba)) {
        std::fprintf(stderr, "assetc: cannot write %s\n", outFile.c_str());
        return 1;
    }
    return 0;
}
