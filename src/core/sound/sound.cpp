#include "core/sound/sound.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "core/game.h"

namespace kdv {
namespace {

uint32_t ReadLE32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

constexpr uint64_t kMaxBankBytes = 64u << 20;

// True when every chunk after "WAVE" fits inside the wave and there are "fmt " and "data"
// chunks: the audio library trusts the sizes a chunk declares and allocates them.
bool ChunksFit(const uint8_t* wave, uint64_t total) {
    if (total < 12) return false;  // ends before its own "WAVE"
    bool format = false, data = false;
    uint64_t pos = 12;
    while (total - pos >= 8) {
        const uint64_t size = ReadLE32(wave + pos + 4);
        if (size > total - pos - 8) return false;
        format = format || std::memcmp(wave + pos, "fmt ", 4) == 0;
        data = data || std::memcmp(wave + pos, "data", 4) == 0;
        pos += 8 + size;
        pos += std::min<uint64_t>(size & 1, total - pos);  // pad byte, if there is room
    }
    return format && data && pos == total;
}

}  // namespace

std::vector<std::vector<uint8_t>> SplitSoundBank(const std::vector<uint8_t>& bank) {
    std::vector<std::vector<uint8_t>> waves;
    size_t pos = 0;  // never past bank.size()
    while (bank.size() - pos >= 12) {
        const uint8_t* p = bank.data() + pos;
        if (std::memcmp(p, "RIFF", 4) != 0 || std::memcmp(p + 8, "WAVE", 4) != 0) break;
        const uint64_t total = 8 + uint64_t(ReadLE32(p + 4));
        if (total > bank.size() - pos) break;
        if (ChunksFit(p, total))
            waves.emplace_back(p, p + total);
        else
            waves.emplace_back();  // keeps its number, plays nothing
        pos += size_t(total);
        // An odd-sized wave is followed by a pad byte; tolerate one left out.
        if ((total & 1) && pos < bank.size() &&
            !(bank.size() - pos >= 4 && std::memcmp(bank.data() + pos, "RIFF", 4) == 0))
            ++pos;
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
        const bool playable =
            std::any_of(waves.begin(), waves.end(), [](const auto& wave) { return !wave.empty(); });
        if (!sound || !playable) {
            game.SoundUnavailable = true;
            return;
        }
        sound->LoadBank(std::move(waves));
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
