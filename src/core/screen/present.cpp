#include "core/screen/present.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/game.h"

namespace kdv {
namespace {

constexpr int kChunk = 8;  // pixels compared and converted at a time; rows hold whole chunks

// The bytes of a block that differ from what was converted then, one bit each.
unsigned ChangedBytes(const uint8_t* now, const uint8_t* then) {
#if defined(__SSE2__)
    const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(now));
    const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(now + 16));
    const __m128i b0 = _mm_load_si128(reinterpret_cast<const __m128i*>(then));
    const __m128i b1 = _mm_load_si128(reinterpret_cast<const __m128i*>(then + 16));
    const unsigned same = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(a0, b0))) |
                          unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(a1, b1))) << 16;
    return ~same;
#else
    unsigned changed = 0;
    for (int i = 0; i < kBlockBytes; ++i) changed |= unsigned(now[i] != then[i]) << i;
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

constexpr int kRowChunks = kScreenWidth / kChunk;
constexpr int kShownBlocks = (kPresentOffset + kScreenPixels + kBlockBytes - 1) / kBlockBytes;
// Block b holds the pixels 32 b - 4 .. 32 b + 27: the last half of chunk 4 b - 1, chunks
// 4 b .. 4 b + 2 and the first half of 4 b + 3.
static_assert(kBlockBytes == 4 * kChunk && kPresentOffset == kChunk / 2);

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
    const uint8_t* frame = screen.bytes.data() + kPresentOffset;
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
    // Calls convert(chunk) for every chunk to convert, in order.
    auto scan = [&](auto convert) {
        if (all) {
            std::memcpy(previous, frame, kScreenPixels);
            for (int chunk = 0; chunk < kScreenPixels / kChunk; ++chunk) convert(chunk);
            return;
        }
        // Only blocks written since the last conversion can differ from it; of those, only
        // the chunks that really changed are converted (a tank that stood still is drawn
        // again every tick). The blocks are compared first, all in one go, and the changed
        // ones listed.
        const uint8_t* now = screen.bytes.data();
        uint8_t* then = cache.frame.data();
        std::array<ChangedBlock, kShownBlocks> list;
        int count = 0;
        const BlockSet& marks = screen.shownMarks;
        for (int w = 0; w * 64 < kShownBlocks; ++w) {
            uint64_t blocks = marks.Word(w);
            if (kShownBlocks - w * 64 < 64)
                blocks &= ~uint64_t(0) >> (64 - (kShownBlocks - w * 64));
            for (; blocks; blocks &= blocks - 1) {
                const int block = w * 64 + __builtin_ctzll(blocks);
                const size_t at = size_t(block) * kBlockBytes;
                const unsigned changed = ChangedBytes(now + at, then + at);
                list[size_t(count)] = {block, changed};
                count += changed != 0;
            }
        }
        int next = 0;  // chunks before it are done
        for (int i = 0; i < count; ++i) {
            const int block = list[size_t(i)].block;
            unsigned changed = list[size_t(i)].changed;
            if (block == 0 || block == kShownBlocks - 1) {
                // Not pixels: the width and height, the slack after the screen.
                changed &= block == 0 ? ~0xFu : (1u << kPresentOffset) - 1;
                if (!changed) continue;
            }
            const size_t at = size_t(block) * kBlockBytes;
            std::memcpy(then + at, now + at, kBlockBytes);
            // The chunks the changed bytes fall in, from 4 b - 1.
            const unsigned chunks = unsigned((changed & 0xFu) != 0) |
                                    unsigned((changed & 0xFF0u) != 0) << 1 |
                                    unsigned((changed & 0xFF000u) != 0) << 2 |
                                    unsigned((changed & 0xFF00000u) != 0) << 3 |
                                    unsigned((changed & 0xF0000000u) != 0) << 4;
            for (unsigned c = chunks; c; c &= c - 1) {
                const int chunk = 4 * block - 1 + __builtin_ctz(c);
                if (chunk < next) continue;  // converted with the block before
                convert(chunk);
                next = chunk + 1;
            }
        }
    };
    if (runsOnly) {
        scan([&](int chunk) {
            // Runs stop at the end of a row, so that a display can take one row at a time.
            const int first = chunk * kChunk;
            if (!runs.empty() && runs.back().first + runs.back().count == first &&
                first % kScreenWidth != 0)
                runs.back().count = uint16_t(runs.back().count + kChunk);
            else
                runs.push_back({uint16_t(first), uint16_t(kChunk)});
        });
    } else if (small) {
        scan([&](int chunk) {
            const int first = chunk * kChunk;
            ConvertSmall(frame + first, table, out + first);
        });
    } else {
        scan([&](int chunk) {
            const unsigned y = unsigned(chunk) / kRowChunks,
                           x = unsigned(chunk) * kChunk - y * kScreenWidth;
            ConvertLarge(frame + size_t(chunk) * kChunk, pairs,
                         out + size_t(2 * y) * 640 + size_t(2 * x));
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
