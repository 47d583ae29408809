#include "core/screen/present.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/game.h"

namespace kdv {
namespace {

constexpr int kChunk = 8;  // pixels converted at a time

// The bytes of a block that differ from what was converted then, one bit each; `then` takes
// the block as it is now.
unsigned TakeChanges(const uint8_t* now, uint8_t* then) {
#if defined(__SSE2__)
    const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(now));
    const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(now + 16));
    const __m128i b0 = _mm_load_si128(reinterpret_cast<const __m128i*>(then));
    const __m128i b1 = _mm_load_si128(reinterpret_cast<const __m128i*>(then + 16));
    _mm_store_si128(reinterpret_cast<__m128i*>(then), a0);
    _mm_store_si128(reinterpret_cast<__m128i*>(then + 16), a1);
    const unsigned same = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(a0, b0))) |
                          unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(a1, b1))) << 16;
    return ~same;
#else
    unsigned changed = 0;
    for (int i = 0; i < kBlockBytes; ++i) changed |= unsigned(now[i] != then[i]) << i;
    std::memcpy(then, now, kBlockBytes);
    return changed;
#endif
}

void ConvertSmall(const uint8_t* in, const uint16_t* table, uint16_t* at) {
    for (int k = 0; k < kChunk; ++k) at[k] = table[in[k]];
}

// Each frame pixel becomes a 2 x 2 block; `at` is the chunk's first pixel in the bitmap.
[[gnu::always_inline]] inline void ConvertLarge(const uint8_t* in, const uint32_t* pairs,
                                                uint16_t* at) {
#if defined(__SSE2__)
    auto four = [&](int k) {
        const __m128i a = _mm_unpacklo_epi32(_mm_cvtsi32_si128(int(pairs[in[k]])),
                                             _mm_cvtsi32_si128(int(pairs[in[k + 1]])));
        const __m128i b = _mm_unpacklo_epi32(_mm_cvtsi32_si128(int(pairs[in[k + 2]])),
                                             _mm_cvtsi32_si128(int(pairs[in[k + 3]])));
        return _mm_unpacklo_epi64(a, b);
    };
    const __m128i left = four(0), right = four(4);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at), left);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at + 8), right);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at + 640), left);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at + 648), right);
#else
    uint64_t two[kChunk / 2];
    for (int k = 0; k < kChunk / 2; ++k)
        two[k] = uint64_t(pairs[in[2 * k]]) | uint64_t(pairs[in[2 * k + 1]]) << 32;
    std::memcpy(at, two, sizeof two);
    std::memcpy(at + 640, two, sizeof two);
#endif
}

struct ChangedBlock {
    int block;
    unsigned changed;  // bytes, one bit each
};

constexpr int kRowBlocks = kScreenWidth / kBlockBytes;
constexpr int kShownBlocks = (kPresentOffset + kScreenPixels + kBlockBytes - 1) / kBlockBytes;
// Block b holds the pixels 32 b - 4 .. 32 b + 27, converted as four groups of eight bytes
// from pixel 32 b - 4. All four lie in one row, except the first group of a block that begins
// a row: its four pixels at the end of the row above, then four at the start of its own (the
// width and height in block 0, the slack after the screen in the last block).
static_assert(kBlockBytes == 4 * kChunk && kPresentOffset == kChunk / 2 &&
              kScreenWidth % kBlockBytes == 0);

}  // namespace

void PresentFrame(Game& game) {
    game.FrameScreen.EndTick();
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
    const uint8_t* frame = screen.Bytes().data() + kPresentOffset;
    const BlockSet marks = screen.TakeShown();
    const uint16_t* table = game.PixelTable.data();
    uint16_t* out = bitmap.pixels.data();
    PresentCache& cache = game.presentCache;
    const bool all = !cache.valid || cache.width != width || cache.table != game.PixelTable;
    if (all) {
        cache.table = game.PixelTable;
        for (int i = 0; i < 256; ++i) cache.pairs[size_t(i)] = uint32_t(table[i]) * 0x10001u;
    }
    uint8_t* previous = cache.frame.data() + kPresentOffset;
    const uint32_t* pairs = cache.pairs.data();

    std::vector<PixelRun>& runs = cache.runs;
    runs.clear();
    // Calls eight(pixel, row) for eight pixels from there, and few(pixel, count, row) for
    // fewer, for every group of pixels to convert, in order; each lies within its row.
    auto scan = [&](auto eight, auto few) {
        if (all) {
            std::memcpy(previous, frame, kScreenPixels);
            for (int y = 0; y < kScreenHeight; ++y)
                for (int x = 0; x < kScreenWidth; x += kChunk) eight(y * kScreenWidth + x, y);
            return;
        }
        // Only blocks written since the last conversion can differ from it; of those, only
        // the groups that really changed are converted (a tank that stood still is drawn
        // again every tick). The blocks are compared and taken into the copy first, all in
        // one go, and the changed ones listed.
        const uint8_t* now = screen.Bytes().data();
        uint8_t* then = cache.frame.data();
        std::array<ChangedBlock, kShownBlocks> list;
        int count = 0;
        for (int w = 0; w * 64 < kShownBlocks; ++w) {
            uint64_t blocks = marks.Word(w);
            if (kShownBlocks - w * 64 < 64)
                blocks &= ~uint64_t(0) >> (64 - (kShownBlocks - w * 64));
            for (; blocks; blocks &= blocks - 1) {
                const int block = w * 64 + __builtin_ctzll(blocks);
                const size_t at = size_t(block) * kBlockBytes;
                const unsigned changed = TakeChanges(now + at, then + at);
                list[size_t(count)] = {block, changed};
                count += changed != 0;
            }
        }
        for (int i = 0; i < count; ++i) {
            const int block = list[size_t(i)].block;
            unsigned changed = list[size_t(i)].changed;
            const int y = block / kRowBlocks;
            const int pixel = block * kBlockBytes - kPresentOffset;
            if (block == y * kRowBlocks) {
                // The first group straddles two rows; there are no pixels before the first
                // block nor after the first four bytes of the last.
                if (block > 0 && (changed & 0xFu)) few(pixel, 4, y - 1);
                if (block == kShownBlocks - 1) continue;
                if (changed & 0xF0u) few(pixel + 4, 4, y);
                changed &= ~0xFFu;
            }
            for (int g = 0; g < 4; ++g)
                if (changed >> (8 * g) & 0xFFu) eight(pixel + 8 * g, y);
        }
    };
    // Runs stop at the end of a row, so that a display can take one row at a time.
    auto run = [&](int first, int count) {
        if (!runs.empty() && runs.back().first + runs.back().count == first &&
            first % kScreenWidth != 0)
            runs.back().count = uint16_t(runs.back().count + count);
        else
            runs.push_back({uint16_t(first), uint16_t(count)});
    };
    // The bitmap pixel of a frame pixel at 640 x 400: 2 x, 2 y.
    auto large = [&](int pixel, int y) { return out + size_t(2 * pixel + 2 * kScreenWidth * y); };
    if (runsOnly) {
        scan([&](int pixel, int) { run(pixel, kChunk); },
             [&](int pixel, int count, int) { run(pixel, count); });
    } else if (small) {
        scan([&](int pixel, int) { ConvertSmall(frame + pixel, table, out + pixel); },
             [&](int pixel, int count, int) {
                 for (int k = 0; k < count; ++k) out[pixel + k] = table[frame[pixel + k]];
             });
    } else {
        scan([&](int pixel, int y) { ConvertLarge(frame + pixel, pairs, large(pixel, y)); },
             [&](int pixel, int count, int y) {
                 uint16_t* at = large(pixel, y);
                 for (int k = 0; k < count; ++k) {
                     const uint32_t two = pairs[frame[pixel + k]];
                     std::memcpy(at + 2 * k, &two, 4);
                     std::memcpy(at + 640 + 2 * k, &two, 4);
                 }
             });
    }
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
