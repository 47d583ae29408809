#pragma once
// Writes 24-bit RGB pictures as PNG: screenshots of the headless runner and the asset previews.
#include <cstdint>
#include <string>
#include <vector>

namespace support {

// rgb holds width * height * 3 bytes, rows top to bottom. Returns the encoded file.
std::vector<uint8_t> EncodePng(int width, int height, const std::vector<uint8_t>& rgb);

// Encodes and writes; false (with nothing half-written left behind) when the file cannot be
// written.
bool WritePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb);

}  // namespace support
