#pragma once
// What a game played from a host's start reads: the host's settings and level records from
// memory, the graphics, font and sounds from this machine's disk; nothing is written. And a
// clock whose milliseconds follow the game's ticks, so every machine reads the same times; the
// sounds it plays; and the game in progress as one that comes in part-way (a player back, a
// spectator) takes it.
#include <optional>
#include <string>
#include <vector>

#include "core/platform/services.h"

namespace kdv {
struct Game;
}

namespace net {

class HostFiles : public kdv::FileSystem {
  public:
    // during: what the refused append names ("during a network game").
    HostFiles(kdv::FileSystem& disk, const std::string& settings,
              const std::vector<uint8_t>& levels, std::string during);
    bool CanOpen(const std::string& path) override;
    std::optional<uint64_t> Size(const std::string& path) override;
    std::optional<std::vector<uint8_t>> Read(const std::string& path, uint64_t offset,
                                             size_t length) override;
    void Append(const std::string& path, const std::vector<uint8_t>&) override;
    bool Replace(const std::string&, const std::vector<uint8_t>&) override { return true; }

  private:
    const std::vector<uint8_t>* Held(const std::string& path) const;
    kdv::FileSystem& disk_;
    std::vector<uint8_t> settings_, levels_;
    std::string during_;
};

class TickClock : public kdv::Clock {
  public:
    uint32_t TickCount() override { return now; }
    uint32_t now = 0;
};

// A game's sounds, heard through outer (which may be null) while heard is set. The voices are
// counted as outer counts them either way, so that the game takes the same path heard or not.
class HostGameSound : public kdv::SoundDevice {
  public:
    explicit HostGameSound(kdv::SoundDevice* outer) : outer_(outer) {}
    void Initialise() override {}
    void Finalise() override {}
    void LoadBank(std::vector<std::vector<uint8_t>>) override {}
    int Count() const override;
    void Play(int item, int volume, bool) override {
        if (heard && outer_) outer_->Play(item, volume, false);
    }
    bool heard = true;

  private:
    kdv::SoundDevice* outer_;
};

// The confirmed game after a tick: its state, what its level dialog holds (a dump shows it)
// and the input that tick read.
struct MidGame {
    std::vector<uint8_t> state;
    int32_t position = 1;
    int32_t gameItem = 0;
    uint32_t mask = 0;
};
MidGame MidGameOf(const kdv::Game& game, uint32_t mask);
// Puts the state and the level dialog's contents into game; why not, when the state is refused.
std::optional<std::string> TakeMidGame(const MidGame& from, kdv::Game& game);

}  // namespace net
