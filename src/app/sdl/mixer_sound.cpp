#include "app/sdl/mixer_sound.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <stdexcept>
#include <string>

#include "app/sdl/sdl_lock.h"
#include "app/sdl/sound_volume.h"

namespace app {
namespace {

constexpr int kFrequency = 44100;

std::runtime_error MixerError(const std::string& what) {
    return std::runtime_error(what + ": " + Mix_GetError());
}

}  // namespace

MixerSound::~MixerSound() {
    Finalise();
}

void MixerSound::Open() {
    {
        const std::lock_guard<std::mutex> lock(SdlSubsystemLock());
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
            throw std::runtime_error(std::string("no audio: ") + SDL_GetError());
    }
    if (Mix_OpenAudio(kFrequency, AUDIO_S16SYS, 2, 1024) != 0) {
        const std::runtime_error error = MixerError("cannot open the audio device");
        const std::lock_guard<std::mutex> lock(SdlSubsystemLock());
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        throw error;
    }
    int frequency = kFrequency, channels = 2;
    Uint16 format = AUDIO_S16SYS;
    Mix_QuerySpec(&frequency, &format, &channels);
    bytesPerSecond_ = frequency * channels * int(SDL_AUDIO_BITSIZE(format) / 8);
    channels_ = Mix_AllocateChannels(kChannels);
}

void MixerSound::OpenInBackground() {
    if (open_ || opening_) return;
    opening_ = true;
    tried_ = false;
    opened_ = false;
    bankDecided_ = false;
    pendingBank_.clear();
    threadChunks_.clear();
    opener_ = std::thread([this] {
        try {
            Open();
        } catch (const std::exception& error) {
            openError_ = error.what();
            if (openError_.empty()) openError_ = "no audio";
        }
        tried_ = true;
        if (openError_.empty()) {
            // Converting the bank for the device takes 10-15 ms, which the first frame (or the
            // first sound of a game) would otherwise wait for on the main thread.
            std::unique_lock<std::mutex> lock(bankLock_);
            bankSettled_.wait(lock, [this] { return bankDecided_; });
            try {
                if (!pendingBank_.empty()) threadChunks_ = MakeChunks(pendingBank_);
            } catch (const std::exception&) {
                // The bank was vouched for when it was handed over; a device that cannot take
                // it plays nothing.
            }
            pendingBank_.clear();
        }
        // SDL keeps this thread's error text until told; the thread ends here.
        SDL_TLSCleanup();
        opened_ = true;
    });
}

bool MixerSound::Settle(bool wait) {
    if (opening_ && (wait || opened_)) {
        {
            // Waited for: no bank is coming now if none has.
            const std::lock_guard<std::mutex> lock(bankLock_);
            bankDecided_ = true;
        }
        bankSettled_.notify_one();
        opener_.join();
        opening_ = false;
        pendingCount_ = 0;
        open_ = openError_.empty();
        if (open_) {
            FreeChunks();
            chunks_.swap(threadChunks_);
        }
    }
    return open_;
}

void MixerSound::Initialise() {
    if (open_) return;
    if (opening_) {
        if (tried_ && !openError_.empty()) {
            Settle(true);
            throw std::runtime_error(openError_);
        }
        adopted_ = true;  // the game goes on; the device joins when it is ready
        return;
    }
    Open();
    open_ = true;
}

void MixerSound::Finalise() {
    Settle(true);
    adopted_ = false;
    if (!open_) return;
    Mix_HaltChannel(-1);
    FreeChunks();
    Mix_CloseAudio();
    const std::lock_guard<std::mutex> lock(SdlSubsystemLock());
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    open_ = false;
}

void MixerSound::FreeChunks(std::vector<Mix_Chunk*>& chunks) {
    for (Mix_Chunk* chunk : chunks)
        if (chunk) Mix_FreeChunk(chunk);
    chunks.clear();
}

void MixerSound::FreeChunks() {
    FreeChunks(chunks_);
}

void MixerSound::LoadBank(const std::vector<std::vector<uint8_t>>& waves) {
    if (opening_ && adopted_) {
        if (tried_ && !openError_.empty()) {
            Settle(true);
            throw std::runtime_error(openError_);
        }
        {
            // Loaded on the opening thread once the device is open.
            const std::lock_guard<std::mutex> lock(bankLock_);
            if (!bankDecided_) {
                pendingBank_ = waves;
                pendingCount_ = waves.size();
                bankDecided_ = true;
            }
        }
        bankSettled_.notify_one();
        return;
    }
    if (!open_) throw std::runtime_error("the audio device is not open");
    LoadChunks(waves);
}

void MixerSound::LoadChunks(const std::vector<std::vector<uint8_t>>& waves) {
    Mix_HaltChannel(-1);
    FreeChunks();
    chunks_ = MakeChunks(waves);
}

std::vector<Mix_Chunk*> MixerSound::MakeChunks(const std::vector<std::vector<uint8_t>>& waves) {
    std::vector<Mix_Chunk*> chunks;
    for (const auto& wave : waves) {
        if (wave.empty()) {  // a wave the bank could not vouch for keeps its number, silent
            chunks.push_back(nullptr);
            continue;
        }
        SDL_RWops* stream = SDL_RWFromConstMem(wave.data(), int(wave.size()));
        Mix_Chunk* chunk = stream ? Mix_LoadWAV_RW(stream, 1) : nullptr;
        if (!chunk) {
            const std::runtime_error error =
                MixerError("sound " + std::to_string(chunks.size()) + " of the bank is unusable");
            FreeChunks(chunks);
            throw error;
        }
        chunks.push_back(chunk);
    }
    return chunks;
}

int MixerSound::FreeChannel() {
    int channel = Mix_GroupAvailable(-1);
    if (channel >= 0) return channel;
    if (channels_ < kMaxChannels) {
        channel = channels_;
        channels_ = Mix_AllocateChannels(channels_ + kChannels);
        if (channel < channels_) return channel;
    }
    return Mix_GroupOldest(-1);  // every voice busy: the oldest gives way
}

void MixerSound::Play(int item, int volume, bool wait) {
    if (opening_ && adopted_) Settle(wait);  // a sound to wait for waits for the device too
    if (!open_ || item < 0 || item >= Count()) return;
    Mix_Chunk* chunk = chunks_[size_t(item)];
    if (!chunk) return;
    int channel = FreeChannel();
    if (channel < 0) return;
    Mix_HaltChannel(channel);
    Mix_Volume(channel, MixVolumeFor(volume));
    channel = Mix_PlayChannel(channel, chunk, 0);
    if (channel < 0 || !wait) return;
    // Poll until the voice has ended; give up a second after it should have, in case the
    // device has stalled.
    const Uint64 lengthMs =
        bytesPerSecond_ > 0 ? Uint64(chunk->alen) * 1000 / Uint64(bytesPerSecond_) : 0;
    const Uint64 deadline = SDL_GetTicks64() + lengthMs + 1000;
    while (Mix_Playing(channel) && SDL_GetTicks64() < deadline) SDL_Delay(10);
}

}  // namespace app
