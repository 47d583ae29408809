#include "core/screen/present.h"

#include <algorithm>

#include "core/game.h"

namespace kdv {

void PresentFrame(Game& game) {
    game.PresentToggle ^= 1;
    if (game.PresentToggle == 0) return;
    Display* display = game.io.display;
    if (!display || !display->CanDraw()) return;
    if (game.Paused) DrawText(game, game.GameFont, 100, 100, 12, "PAUSE");

    WorkBitmap& bitmap = game.WorkBitmap;
    const bool small = game.Settings.smallScreen;
    const int width = small ? 320 : 640;
    const int height = small ? 200 : 400;
    if (bitmap.width != width || bitmap.height != height) bitmap.Resize(width, height);

    const uint8_t* frame = game.FrameScreen.bytes.data() + kPresentOffset;
    const uint16_t* table = game.PixelTable.data();
    uint16_t* out = bitmap.pixels.data();
    if (small) {
        for (int i = 0; i < kScreenPixels; ++i) out[i] = table[frame[i]];
    } else {
        for (int y = 0; y < kScreenHeight; ++y) {
            const uint8_t* src = frame + y * kScreenWidth;
            uint16_t* row0 = out + size_t(2 * y) * 640;
            uint16_t* row1 = row0 + 640;
            for (int x = 0; x < kScreenWidth; ++x) {
                const uint16_t p = table[src[x]];
                row0[2 * x] = p;
                row0[2 * x + 1] = p;
            }
            std::copy(row0, row0 + 640, row1);
        }
    }
    display->Present(bitmap);
}

}  // namespace kdv
