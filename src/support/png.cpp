#include "support/png.h"

#include <zlib.h>

#include <cstdio>
#include <stdexcept>

namespace support {
namespace {

void PutBE32(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v >> 24));
    out.push_back(uint8_t(v >> 16));
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

void PutChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    PutBE32(out, uint32_t(data.size()));
    size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    uLong crc = crc32(0, out.data() + start, uInt(out.size() - start));
    PutBE32(out, uint32_t(crc));
}

// channels 3 is truecolour, 4 truecolour with alpha.
std::vector<uint8_t> Encode(int width, int height, const std::vector<uint8_t>& pixels,
                            int channels) {
    if (width <= 0 || height <= 0 ||
        pixels.size() != size_t(width) * size_t(height) * size_t(channels))
        throw std::invalid_argument("EncodePng: picture size does not match its pixels");

    // Every row starts with filter type 0 (none).
    const ptrdiff_t stride = ptrdiff_t(width) * channels;
    std::vector<uint8_t> raw;
    raw.reserve(size_t(height) * (size_t(stride) + 1));
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        auto row = pixels.begin() + ptrdiff_t(y) * stride;
        raw.insert(raw.end(), row, row + stride);
    }
    uLongf packedSize = compressBound(uLong(raw.size()));
    std::vector<uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), uLong(raw.size()), 6) != Z_OK)
        throw std::runtime_error("EncodePng: compression failed");
    packed.resize(packedSize);

    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::vector<uint8_t> header;
    PutBE32(header, uint32_t(width));
    PutBE32(header, uint32_t(height));
    // 8 bits, colour type 2 (RGB) or 6 (RGBA), no interlace
    header.insert(header.end(), {8, uint8_t(channels == 4 ? 6 : 2), 0, 0, 0});
    PutChunk(out, "IHDR", header);
    PutChunk(out, "IDAT", packed);
    PutChunk(out, "IEND", {});
    return out;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::string temp = path + ".part";
    FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = (std::fclose(f) == 0) && ok;
    if (ok) ok = std::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) std::remove(temp.c_str());
    return ok;
}

}  // namespace

std::vector<uint8_t> EncodePng(int width, int height, const std::vector<uint8_t>& rgb) {
    return Encode(width, height, rgb, 3);
}

std::vector<uint8_t> EncodePngRgba(int width, int height, const std::vector<uint8_t>& rgba) {
    return Encode(width, height, rgba, 4);
}

bool WritePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb) {
    return WriteFile(path, EncodePng(width, height, rgb));
}

bool WritePngRgba(const std::string& path, int width, int height,
                  const std::vector<uint8_t>& rgba) {
    return WriteFile(path, EncodePngRgba(width, height, rgba));
}

}  // namespace support
