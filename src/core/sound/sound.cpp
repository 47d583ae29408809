#include "core/sound/sound.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/game.h"

namespace kdv {
namespace {

uint32_t ReadLE32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

constexpr uint64_t kMaxBankBytes = 64u << 20;

}  // namespace

std::vector<std::vector<uint8_t>> SplitSoundBank(const std::vector<uint8_t>& bank) {
    std::vector<std::vector<uint8_t>> waves;
    size_t pos = 0;
    while (bank.size() - pos >= 12) {
        const uint8_t* p = bank.data() + pos;
        if (std::memcmp(p, "RIFF", 4) != 0 || std::memcmp(p + 8, "WAVE", 4) != 0) break;
        const uint64_t total = 8 + uint64_t(ReadLE32(p + 4));
        if (total > bank.size() - pos) break;
        waves.emplace_back(p, p + total);
        pos += size_t(total);
        pos += pos & 1;  // RIFF pads odd sizes
    }
    return waves;
}

void LoadSoundBank(Game& game) {
    SoundDevice* sound = game.io.sound;
    try {
        auto size = game.io.files->Size(kSoundBankFile);
        auto data =
            size ? game.io.files->Read(kSoundBankFile, 0, size_t(std::min(*size, kMaxBankBytes)))
                 : std::nullopt;
        auto waves = data ? SplitSoundBank(*data) : std::vector<std::vector<uint8_t>>{};
        if (!sound || waves.empty()) {
            game.SoundUnavailable = true;
            return;
        }
        sound->LoadBank(waves);
    } catch (const std::exception&) {
        game.SoundUnavailable = true;
    }
}

int SoundVolume(int percent, int32_t soundVolume) {
    const int64_t p = std::max(percent, 1);
    const int64_t x = int64_t(std::trunc(double(p) * double(soundVolume) * 0.01));
    const int64_t a = std::max<int64_t>(x * 20, 0);
    // Above 0 would be louder than the sound itself; settings files can hold anything.
    return int(std::min<int64_t>(a - 2000, 0));
}

void PlaySound(Game& game, int percent, int effect) {
    if (effect >= 0 && effect < kSoundEffects) ++game.soundsPlayed[size_t(effect)];
    SoundDevice* sound = game.io.sound;
    if (!game.Settings.soundEnable || game.SoundUnavailable || !sound) return;
    if (effect < 0 || effect > sound->Count() - 1) return;
    sound->Play(effect, SoundVolume(percent, game.Settings.soundVolume), effect == sfxExit);
}

}  // namespace kdv
