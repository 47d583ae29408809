#include "app/qt/frame_copy.h"

#include <algorithm>
#include <cstring>

namespace app {

PixelSpan FitFrame(int frameWidth, int frameHeight, int areaWidth, int areaHeight) {
    if (frameWidth <= 0 || frameHeight <= 0 || areaWidth <= 0 || areaHeight <= 0) return {};
    // The larger scale that keeps both sides inside the area.
    int width = areaWidth;
    int height = int(int64_t(frameHeight) * areaWidth / frameWidth);
    if (height > areaHeight) {
        height = areaHeight;
        width = int(int64_t(frameWidth) * areaHeight / frameHeight);
    }
    const int left = (areaWidth - width) / 2, top = (areaHeight - height) / 2;
    return {left, top, left + width - 1, top + height - 1};
}

PixelSpan ScaleSpan(const PixelSpan& span, int frameWidth, int frameHeight, const PixelSpan& target,
                    int areaWidth, int areaHeight) {
    if (span.Empty() || target.Empty() || frameWidth <= 0 || frameHeight <= 0) return {};
    const int64_t targetWidth = target.right - target.left + 1;
    const int64_t targetHeight = target.bottom - target.top + 1;
    PixelSpan out;
    out.left = target.left + int(span.left * targetWidth / frameWidth) - 1;
    out.right = target.left + int((span.right + 1) * targetWidth / frameWidth);
    out.top = target.top + int(span.top * targetHeight / frameHeight) - 1;
    out.bottom = target.top + int((span.bottom + 1) * targetHeight / frameHeight);
    out.left = std::max(out.left, 0);
    out.top = std::max(out.top, 0);
    out.right = std::min(out.right, areaWidth - 1);
    out.bottom = std::min(out.bottom, areaHeight - 1);
    return out;
}

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

void BuildColourTable(const uint16_t* pixels16, bool rgb565, ColourTable& colours) {
    for (int i = 0; i < 256; ++i) colours[size_t(i)] = ExpandPixel(pixels16[i], rgb565);
}

PixelSpan ConvertRuns(const uint8_t* frame, const std::vector<kdv::PixelRun>& runs,
                      const ColourTable& colours, int scale, uint32_t* image, size_t stride) {
    constexpr int kWidth = 320;
    PixelSpan span{kWidth * scale, 1 << 30, -1, -1};
    for (const kdv::PixelRun& run : runs) {
        const int y = run.first / kWidth, x = run.first % kWidth;
        const int count = std::min<int>(run.count, kWidth - x);  // a run never leaves its row
        const uint8_t* from = frame + run.first;
        uint32_t* to = image + size_t(y * scale) * stride + size_t(x * scale);
        if (scale == 1) {
            for (int k = 0; k < count; ++k) to[k] = colours[from[k]];
        } else {
            for (int k = 0; k < count; ++k)
                for (int s = 0; s < scale; ++s) to[k * scale + s] = colours[from[k]];
            for (int row = 1; row < scale; ++row)
                std::memcpy(to + size_t(row) * stride, to, size_t(count * scale) * 4);
        }
        span.left = std::min(span.left, x * scale);
        span.right = std::max(span.right, (x + count) * scale - 1);
        span.top = std::min(span.top, y * scale);
        span.bottom = std::max(span.bottom, (y + 1) * scale - 1);
    }
    return span.right < 0 ? PixelSpan{} : span;
}

void ChangedBoxes(const std::vector<kdv::PixelRun>& runs, int gap, std::vector<PixelSpan>& boxes) {
    constexpr int kWidth = 320;
    boxes.clear();
    size_t open = 0;  // boxes[open..] may still grow; those before ended above
    for (const kdv::PixelRun& run : runs) {
        const int y = run.first / kWidth, x = run.first % kWidth;
        const int right = x + std::max<int>(std::min<int>(run.count, kWidth - x), 1) - 1;
        // Boxes that ended above this row are kept in front of the open ones.
        for (size_t i = open; i < boxes.size(); ++i)
            if (boxes[i].bottom < y - 1) std::swap(boxes[i], boxes[open++]);
        PixelSpan* into = nullptr;
        for (size_t i = open; i < boxes.size() && !into; ++i)
            if (x <= boxes[i].right + gap && right >= boxes[i].left - gap) into = &boxes[i];
        if (!into) {
            boxes.push_back({x, y, right, y});
            continue;
        }
        into->left = std::min(into->left, x);
        into->right = std::max(into->right, right);
        into->bottom = y;
    }
}

void ScaleInto(const uint32_t* image, size_t imageStride, int imageWidth, int imageHeight,
               uint32_t* scaled, size_t stride, int width, int height, const PixelSpan& span) {
    if (span.Empty() || width <= 0 || height <= 0) return;
    const int left = std::max(span.left, 0), right = std::min(span.right, width - 1);
    const int top = std::max(span.top, 0), bottom = std::min(span.bottom, height - 1);
    for (int y = top; y <= bottom; ++y) {
        const uint32_t* from = image + size_t(int64_t(y) * imageHeight / height) * imageStride;
        uint32_t* to = scaled + size_t(y) * stride;
        for (int x = left; x <= right; ++x) to[x] = from[int64_t(x) * imageWidth / width];
    }
}

}  // namespace app
