#include "app/sdl/mixer_sound.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <stdexcept>
#include <string>
#include <utility>

#include "app/sdl/sdl_library.h"
#include "app/sdl/sdl_lock.h"
#include "app/sdl/sound_volume.h"

// The name SDL_mixer 2 is installed under (its run-time package, not its development files).
#ifndef KORDAVEL_MIXER_LIBRARY
#define KORDAVEL_MIXER_LIBRARY "libSDL2_mixer-2.0.so.0"
#endif

namespace app {
namespace {

// SDL_mixer is loaded when the device is opened, on the thread that opens it, not with the
// program: it and the decoders it brings (a dozen libraries, each bound in full at load) were
// a fifth of the program's start before main.
// clang-format off
#define KORDAVEL_MIXER_FUNCTIONS(F)                                                                \
    F(OpenAudio) F(QuerySpec) F(AllocateChannels) F(CloseAudio) F(LoadWAV_RW) F(FreeChunk)         \
    F(HaltChannel) F(GroupAvailable) F(GroupOldest) F(Volume) F(PlayChannelTimed) F(Playing)
// clang-format on

struct Mixer {
#define KORDAVEL_MIXER_POINTER(name) decltype(&Mix_##name) name = nullptr;
    KORDAVEL_MIXER_FUNCTIONS(KORDAVEL_MIXER_POINTER)
#undef KORDAVEL_MIXER_POINTER
};

struct MixerLibrary {
    Mixer mixer;
    std::string error;  // empty once loaded
};

const MixerLibrary& LoadMixer() {
    static const MixerLibrary loaded = [] {
        MixerLibrary library;
        LibraryLoader loader(KORDAVEL_MIXER_LIBRARY, library.error);
#define KORDAVEL_MIXER_TAKE(name) loader.Take(library.mixer.name, "Mix_" #name);
        KORDAVEL_MIXER_FUNCTIONS(KORDAVEL_MIXER_TAKE)
#undef KORDAVEL_MIXER_TAKE
        return library;
    }();
    return loaded;
}

// Set by the first open that loaded the library; every other call comes after an open.
const Mixer* mix = nullptr;

std::runtime_error MixerError(const std::string& what) {
    return std::runtime_error(what + ": " + Sdl().GetError());
}

}  // namespace

MixerSound::~MixerSound() {
    Finalise();
}

void MixerSound::Open() {
    std::string why;
    if (!LoadSdl(&why)) throw std::runtime_error("no audio: " + why);
    const MixerLibrary& library = LoadMixer();
    if (!library.error.empty()) throw std::runtime_error("no audio: " + library.error);
    mix = &library.mixer;
    {
        const std::lock_guard<std::mutex> lock(SdlSubsystemLock());
        if (Sdl().InitSubSystem(SDL_INIT_AUDIO) != 0)
            throw std::runtime_error(std::string("no audio: ") + Sdl().GetError());
    }
    if (mix->OpenAudio(kdv::kSoundFrequency, AUDIO_S16SYS, 2, kdv::kSoundBufferFrames) != 0) {
        const std::runtime_error error = MixerError("cannot open the audio device");
        const std::lock_guard<std::mutex> lock(SdlSubsystemLock());
        Sdl().QuitSubSystem(SDL_INIT_AUDIO);
        throw error;
    }
    int frequency = kdv::kSoundFrequency, channels = 2;
    Uint16 format = AUDIO_S16SYS;
    mix->QuerySpec(&frequency, &format, &channels);
    bytesPerSecond_ = frequency * channels * int(SDL_AUDIO_BITSIZE(format) / 8);
    channels_ = mix->AllocateChannels(kChannels);
}

void MixerSound::OpenLater() {
    if (open_ || opening_) return;
    opening_ = true;
    waiting_ = true;
    tried_ = false;
    opened_ = false;
    openError_.clear();
    bankDecided_ = false;
    pendingBank_.clear();
    threadChunks_.clear();
}

void MixerSound::OpenInBackground() {
    if (opening_ && !waiting_) return;
    OpenLater();
    if (!waiting_) return;  // already open
    waiting_ = false;
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
        if (const SdlLibrary* sdl = LoadSdl()) sdl->TLSCleanup();
        opened_ = true;
    });
}

bool MixerSound::Settle(bool wait) {
    if (opening_ && waiting_ && wait) {
        // Never started: nothing was opened.
        opening_ = waiting_ = false;
        pendingCount_ = 0;
        pendingBank_.clear();
        return open_;
    }
    if (opening_ && !waiting_ && (wait || opened_)) {
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
    mix->HaltChannel(-1);
    FreeChunks();
    mix->CloseAudio();
    const std::lock_guard<std::mutex> lock(SdlSubsystemLock());
    Sdl().QuitSubSystem(SDL_INIT_AUDIO);
    open_ = false;
}

void MixerSound::FreeChunks(std::vector<Mix_Chunk*>& chunks) {
    for (Mix_Chunk* chunk : chunks)
        if (chunk) mix->FreeChunk(chunk);
    chunks.clear();
}

void MixerSound::FreeChunks() {
    FreeChunks(chunks_);
}

void MixerSound::LoadBank(std::vector<std::vector<uint8_t>> waves) {
    if (opening_ && adopted_) {
        if (tried_ && !openError_.empty()) {
            Settle(true);
            throw std::runtime_error(openError_);
        }
        {
            // Loaded on the opening thread once the device is open.
            const std::lock_guard<std::mutex> lock(bankLock_);
            if (!bankDecided_) {
                pendingCount_ = waves.size();
                pendingBank_ = std::move(waves);
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
    mix->HaltChannel(-1);
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
        SDL_RWops* stream = Sdl().RWFromConstMem(wave.data(), int(wave.size()));
        Mix_Chunk* chunk = stream ? mix->LoadWAV_RW(stream, 1) : nullptr;
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
    int channel = mix->GroupAvailable(-1);
    if (channel >= 0) return channel;
    if (channels_ < kMaxChannels) {
        channel = channels_;
        channels_ = mix->AllocateChannels(channels_ + kChannels);
        if (channel < channels_) return channel;
    }
    return mix->GroupOldest(-1);  // every voice busy: the oldest gives way
}

void MixerSound::Play(int item, int volume, bool wait) {
    if (opening_ && adopted_) Settle(wait);  // a sound to wait for waits for the device too
    if (!open_ || item < 0 || item >= Count()) return;
    Mix_Chunk* chunk = chunks_[size_t(item)];
    if (!chunk) return;
    int channel = FreeChannel();
    if (channel < 0) return;
    mix->HaltChannel(channel);
    mix->Volume(channel, MixVolumeFor(volume));
    channel = mix->PlayChannelTimed(channel, chunk, 0, -1);
    if (channel >= 0) ++voicesStarted_;
    if (channel < 0 || !wait) return;
    // Poll until the voice has ended; give up a second after it should have, in case the
    // device has stalled.
    const Uint64 lengthMs =
        bytesPerSecond_ > 0 ? Uint64(chunk->alen) * 1000 / Uint64(bytesPerSecond_) : 0;
    const Uint64 deadline = Sdl().GetTicks64() + lengthMs + 1000;
    while (mix->Playing(channel) && Sdl().GetTicks64() < deadline) Sdl().Delay(10);
}

}  // namespace app
