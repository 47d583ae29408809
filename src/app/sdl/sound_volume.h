#pragma once
// A volume in hundredths of a decibel (0 full, -2000 = -20 dB) as an SDL_mixer channel volume.
#include <algorithm>
#include <cmath>

namespace app {

constexpr int kMixMaxVolume = 128;  // MIX_MAX_VOLUME

inline int MixVolumeFor(int hundredthsOfDecibel) {
    const double gain = std::pow(10.0, std::min(hundredthsOfDecibel, 0) / 2000.0);
    return std::clamp(int(std::lround(gain * kMixMaxVolume)), 0, kMixMaxVolume);
}

}  // namespace app
