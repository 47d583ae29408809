#include "core/screen/present.h"

#include <algorithm>
#include <cstring>

#include "core/game.h"

namespace kdv {
namespace {

constexpr int kChunk = 8;  // pixels compared and converted at a time; rows hold whole chunks

uint64_t Load8(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// The 32 bytes at a and b are the same.
bool Same32(const uint8_t* a, const uint8_t* b) {
    return ((Load8(a) ^ Load8(b)) | (Load8(a + 8) ^ Load8(b + 8)) |
            (Load8(a + 16) ^ Load8(b + 16)) | (Load8(a + 24) ^ Load8(b + 24))) == 0;
}

void ConvertSmall(const uint8_t* frame, int first, const uint16_t* table, uint16_t* out) {
    for (int k = 0; k < kChunk; ++k) out[first + k] = table[frame[first + k]];
}

// Each frame pixel becomes a 2 x 2 block.
void ConvertLarge(const uint8_t* frame, int first, const uint32_t* pairs, uint16_t* out) {
    const int y = first / kScreenWidth, x = first % kScreenWidth;
    uint16_t* row0 = out + size_t(2 * y) * 640 + 2 * x;
    const uint8_t* in = frame + first;
    for (int k = 0; k < kChunk; k += 2) {
        const uint64_t two = uint64_t(pairs[in[k]]) | uint64_t(pairs[in[k + 1]]) << 32;
        std::memcpy(row0 + 2 * k, &two, 8);
        std::memcpy(row0 + 640 + 2 * k, &two, 8);
    }
}

}  // namespace

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
    const bool runsOnly = display->TakesRuns();
    if (!runsOnly && (bitmap.width != width || bitmap.height != height)) {
        bitmap.Resize(width, height);
        game.presentCache.valid = false;
    }

    ScreenBuffer& screen = game.FrameScreen;
    const uint8_t* frame = screen.bytes.data() + kPresentOffset;
    const uint16_t* table = game.PixelTable.data();
    uint16_t* out = bitmap.pixels.data();
    PresentCache& cache = game.presentCache;
    const bool all = !cache.valid || cache.width != width || cache.table != game.PixelTable;
    if (all) {
        cache.table = game.PixelTable;
        for (int i = 0; i < 256; ++i) cache.pairs[size_t(i)] = uint32_t(table[i]) * 0x10001u;
    }
    uint8_t* previous = cache.frame.data();
    const uint32_t* pairs = cache.pairs.data();

    std::vector<PixelRun>& runs = cache.runs;
    runs.clear();
    auto convert = [&](int first) {
        std::memcpy(previous + first, frame + first, kChunk);
        if (!runsOnly) {
            if (small)
                ConvertSmall(frame, first, table, out);
            else
                ConvertLarge(frame, first, pairs, out);
        }
        // Runs stop at the end of a row, so that a display can take one row at a time.
        if (!runs.empty() && runs.back().first + runs.back().count == first &&
            first % kScreenWidth != 0)
            runs.back().count = uint16_t(runs.back().count + kChunk);
        else
            runs.push_back({uint16_t(first), uint16_t(kChunk)});
    };
    if (all) {
        for (int first = 0; first < kScreenPixels; first += kChunk) convert(first);
    } else {
        // Only blocks written since the last conversion can differ from it; of those, only
        // the chunks that really changed are converted (a tank that stood still is drawn
        // again every tick). A block that is the same as then as a whole is passed over.
        int next = 0;  // chunks before it are done
        screen.shownMarks.ForEach([&](int block) {
            const int start = block * kBlockBytes - kPresentOffset;
            const int stop = std::min(start + kBlockBytes, kScreenPixels);
            if (start >= 0 && stop == start + kBlockBytes &&
                Same32(frame + start, previous + start))
                return;
            for (int first = std::max(next, std::max(start, 0) / kChunk * kChunk); first < stop;
                 first += kChunk) {
                if (Load8(frame + first) != Load8(previous + first)) convert(first);
                next = first + kChunk;
            }
        });
    }
    screen.shownMarks.Clear();
    cache.valid = true;
    cache.width = width;
    if (!runsOnly) {
        display->Present(bitmap);
        return;
    }
    FrameChange change;
    change.pixels = frame;
    change.table = table;
    change.rgb565 = bitmap.rgb565;
    change.scale = small ? 1 : 2;
    change.whole = all;
    change.runs = &runs;
    display->PresentRuns(change);
}

}  // namespace kdv
