#pragma once
// The game's sound device on SDL_mixer: one chunk per sound of the bank, each play on a free
// channel of its own so that a sound already playing starts again as a further voice.
#include <vector>

#include "core/platform/services.h"

struct Mix_Chunk;

namespace app {

class MixerSound : public kdv::SoundDevice {
  public:
    MixerSound() = default;
    ~MixerSound() override;
    MixerSound(const MixerSound&) = delete;
    MixerSound& operator=(const MixerSound&) = delete;

    void Initialise() override;  // throws std::runtime_error without an audio device
    void Finalise() override;
    void LoadBank(const std::vector<std::vector<uint8_t>>& waves) override;
    int Count() const override { return int(chunks_.size()); }
    void Play(int item, int volume, bool wait) override;

    static constexpr int kChannels = 32;
    static constexpr int kMaxChannels = 128;

  private:
    void FreeChunks();
    int FreeChannel();

    bool open_ = false;
    int channels_ = 0;
    int bytesPerSecond_ = 0;
    std::vector<Mix_Chunk*> chunks_;
};

}  // namespace app
