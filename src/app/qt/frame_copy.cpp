#include "app/qt/frame_copy.h"

#include <algorithm>
#include <cstring>

namespace app {

PixelSpan CopyChanged(const uint16_t* source, size_t sourceStride, uint16_t* target,
                      size_t targetStride, int width, int height) {
    PixelSpan span;
    span.left = width;
    span.top = height;
    const size_t rowBytes = size_t(width) * sizeof(uint16_t);
    for (int y = 0; y < height; ++y) {
        const uint16_t* from = source + size_t(y) * sourceStride;
        uint16_t* to = target + size_t(y) * targetStride;
        if (std::memcmp(from, to, rowBytes) == 0) continue;
        int left = 0, right = width - 1;
        while (from[left] == to[left]) ++left;
        while (from[right] == to[right]) --right;
        span.left = std::min(span.left, left);
        span.right = std::max(span.right, right);
        span.top = std::min(span.top, y);
        span.bottom = y;
        std::memcpy(to + left, from + left, size_t(right - left + 1) * sizeof(uint16_t));
    }
    if (span.bottom < 0) return PixelSpan{};
    return span;
}

void ExpandSpan(const uint16_t* source, size_t sourceStride, uint32_t* target, size_t targetStride,
                const PixelSpan& span, bool rgb565) {
    if (span.Empty()) return;
    for (int y = span.top; y <= span.bottom; ++y) {
        const uint16_t* from = source + size_t(y) * sourceStride;
        uint32_t* to = target + size_t(y) * targetStride;
        if (rgb565) {
            for (int x = span.left; x <= span.right; ++x) to[x] = ExpandPixel(from[x], true);
        } else {
            for (int x = span.left; x <= span.right; ++x) to[x] = ExpandPixel(from[x], false);
        }
    }
}

}  // namespace app
