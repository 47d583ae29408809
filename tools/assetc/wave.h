#pragma once
// RIFF WAVE images of 16-bit mono PCM: the form in which the sound bank stores each effect.
#include <cstdint>
#include <vector>

// The complete file: RIFF header, a 16-byte "fmt " chunk and the "data" chunk.
std::vector<uint8_t> EncodeWave(const std::vector<int16_t>& samples, uint32_t sampleRate);
