// The sound bank through the game's own splitter. Every wave it hands on must hold the chunks
// it declares, since the audio library allocates what they claim.
#include <cstring>

#include "core/sound/sound.h"
#include "fuzz/session.h"

namespace {

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void CheckWave(const std::vector<uint8_t>& wave) {
    if (wave.empty()) return;
    if (wave.size() < 12 || std::memcmp(wave.data(), "RIFF", 4) != 0) __builtin_trap();
    for (size_t pos = 12; wave.size() - pos >= 8;) {
        const uint64_t size = Le32(wave.data() + pos + 4);
        if (size > wave.size() - pos - 8) __builtin_trap();
        pos += 8 + size;
        if ((size & 1) && pos < wave.size()) ++pos;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::RunInput input = fuzz::SplitInput(data, size);
    for (const auto& wave : kdv::SplitSoundBank(input.file)) CheckWave(wave);
    adapters::MemoryFiles& files = fuzz::FreshFiles();
    files.files[kdv::kSoundBankFile].swap(input.file);
    fuzz::PlaySession(files, input.scene, {.close = true});
    return 0;
}
