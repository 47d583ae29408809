#pragma once
// Writes RGB and RGBA pictures as PNG: screenshots of the headless runner, the asset previews
// and the program's icons.
#include <cstdint>
#include <string>
#include <vector>

namespace support {

// rgb holds width * height * 3 bytes, rows top to bottom. Returns the encoded file.
std::vector<uint8_t> EncodePng(int width, int height, const std::vector<uint8_t>& rgb);

// Encodes and writes; false (with nothing half-written left behind) when the file cannot be
// written.
bool WritePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb);

// The same with rgba holding width * height * 4 bytes (straight, not premultiplied, alpha).
std::vector<uint8_t> EncodePngRgba(int width, int height, const std::vector<uint8_t>& rgba);
bool WritePngRgba(const std::string& path, int width, int height, const std::vector<uint8_t>& rgba);

}  // namespace support
