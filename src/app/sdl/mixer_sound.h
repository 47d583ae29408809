#pragma once
// The game's sound device on SDL_mixer: one chunk per sound of the bank, each play on a free
// channel of its own so that a sound already playing starts again as a further voice.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
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
    // Starts opening the device on a thread of its own, so that the window need not wait for
    // the audio probe (which can sleep for a tenth of a second). Initialise then takes what
    // the thread found if it is done, and otherwise lets the game go on: the sounds asked for
    // before the device is open are not heard, and a device that fails to open stays silent.
    // A bank handed over meanwhile is converted for the device on that thread too.
    void OpenInBackground();
    // As OpenInBackground, but the thread starts only at the next OpenInBackground: the device
    // counts as opening meanwhile (the window starts it after its first frame).
    void OpenLater();
    void Finalise() override;
    void LoadBank(std::vector<std::vector<uint8_t>> waves) override;
    // While the device is still opening, the bank it will play.
    int Count() const override {
        return int(opening_ && adopted_ ? pendingCount_ : chunks_.size());
    }
    void Play(int item, int volume, bool wait) override;
    // Voices the device has started since the program began (--frame-stats reports it).
    long VoicesStarted() const { return voicesStarted_; }

    static constexpr int kChannels = 32;
    static constexpr int kMaxChannels = 128;

  private:
    void Open();  // the device, or a throw
    // Takes the background open's result when it is done (or waits for it); true when open.
    bool Settle(bool wait);
    void LoadChunks(const std::vector<std::vector<uint8_t>>& waves);
    // The bank as the open device plays it, or a throw; nothing is kept.
    static std::vector<Mix_Chunk*> MakeChunks(const std::vector<std::vector<uint8_t>>& waves);
    static void FreeChunks(std::vector<Mix_Chunk*>& chunks);
    void FreeChunks();
    int FreeChannel();

    bool open_ = false;
    int channels_ = 0;
    int bytesPerSecond_ = 0;
    long voicesStarted_ = 0;
    std::vector<Mix_Chunk*> chunks_;
    std::thread opener_;
    std::atomic<bool> tried_{false};   // the thread's open has returned (openError_ is set)
    std::atomic<bool> opened_{false};  // the thread has finished
    bool opening_ = false;             // a background open has not been taken yet
    bool waiting_ = false;             // ... and its thread has not started (OpenLater)
    bool adopted_ = false;             // Initialise left the open to the thread
    std::string openError_;
    size_t pendingCount_ = 0;  // the sounds of the bank handed to the thread
    // The opened device waits for its bank here: one handed over, or word that none will come.
    std::mutex bankLock_;
    std::condition_variable bankSettled_;
    bool bankDecided_ = false;
    std::vector<std::vector<uint8_t>> pendingBank_;
    std::vector<Mix_Chunk*> threadChunks_;  // the thread's, until it is joined
};

}  // namespace app
