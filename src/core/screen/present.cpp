#include "core/screen/present.h"

#include <cstring>

#include "core/game.h"

namespace kdv {

void PresentFrame(Game& game) {
    game.PresentToggle ^= 1;
    if (game.PresentToggle == 0) return;
    Display* display = game.io.display;
    if (!display || !display->CanDraw()) return;
    if (game.Paused) DrawText(game, game.GameFont, 100, 100, 12, "PAUSE");
    if (!display->WantsPixels()) return;

    WorkBitmap& bitmap = game.WorkBitmap;
    const bool small = game.Settings.smallScreen;
    const int width = small ? 320 : 640;
    const int height = small ? 200 : 400;
    if (bitmap.width != width || bitmap.height != height) {
        bitmap.Resize(width, height);
        game.presentCache.valid = false;
    }

    const uint8_t* frame = game.FrameScreen.bytes.data() + kPresentOffset;
    const uint16_t* table = game.PixelTable.data();
    uint16_t* out = bitmap.pixels.data();
    PresentCache& cache = game.presentCache;
    const bool all = !cache.valid || cache.width != width || cache.table != game.PixelTable;
    uint8_t* previous = cache.frame.data();
    uint32_t pairs[256];
    if (!small)
        for (int i = 0; i < 256; ++i) pairs[i] = uint32_t(table[i]) * 0x10001u;

    // A run of pixels that has not changed since the last frame is skipped: 32 at a time
    // where the frame stands still, then eight at a time around what moved.
    for (int block = 0; block < kScreenPixels; block += 32) {
        if (!all && std::memcmp(frame + block, previous + block, 32) == 0) continue;
        for (int i = block; i < block + 32; i += 8) {
            if (!all && std::memcmp(frame + i, previous + i, 8) == 0) continue;
            std::memcpy(previous + i, frame + i, 8);
            if (small) {
                for (int k = 0; k < 8; ++k) out[i + k] = table[frame[i + k]];
                continue;
            }
            // Each frame pixel becomes a 2 x 2 block.
            const int y = i / kScreenWidth, x = i % kScreenWidth;
            uint16_t* row0 = out + size_t(2 * y) * 640 + 2 * x;
            for (int k = 0; k < 8; ++k) {
                std::memcpy(row0 + 2 * k, &pairs[frame[i + k]], 4);
                std::memcpy(row0 + 640 + 2 * k, &pairs[frame[i + k]], 4);
            }
        }
    }
    cache.valid = true;
    cache.width = width;
    cache.table = game.PixelTable;
    display->Present(bitmap);
}

}  // namespace kdv
