#pragma once
// The two games a machine runs during a network game, as rollback sees them: the confirmed
// game, on devices that answer from the agreed inputs and recorded as a replay, is the saved
// state; the shown game runs ahead of it and is what the player sees and hears.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/platform/services.h"
#include "net/host_files.h"
#include "net/rollback.h"
#include "replay/format.h"

namespace kdv {
struct Game;
}
namespace recording {
class RecordedGame;
}
namespace replay {
class MaskInput;
}

namespace net {

class ShownGame;

struct GameSetup {
    kdv::FileSystem* disk = nullptr;  // the graphics, font and sounds
    std::string settings;             // the host's settings file
    std::vector<uint8_t> levels;      // the host's level records
    uint8_t mode = 2;                 // gmTwoPlayers or gmDuel
    int32_t stage = 1;
    // This player's devices, for the shown game; any may be null.
    kdv::Display* display = nullptr;
    kdv::SoundDevice* sound = nullptr;
    kdv::InputDevice* input = nullptr;  // takes the jolts, when on
    bool jolts = false;
    std::function<uint64_t(const kdv::Game&, long)> hash;  // the checksum (none: 0)
};

class GamePair : public Simulation {
  public:
    GamePair();
    ~GamePair() override;
    GamePair(const GamePair&) = delete;
    GamePair& operator=(const GamePair&) = delete;

    // Starts both games as the level dialog's Ok starts one, so the replay holds the start as
    // such; why not, when they cannot be.
    std::optional<std::string> Start(const GameSetup& setup);

    // Starts both games as Start does, then takes the other machine's confirmed game after
    // tick. The recording starts there.
    std::optional<std::string> Resume(const GameSetup& setup, int64_t tick, const MidGame& at);
    // The confirmed game, for a player coming back or a spectator coming in.
    MidGame Standing() const;

    void Save(int64_t tick, TickInputs inputs) override;
    void Load() override;
    void Advance(int64_t tick, TickInputs inputs, bool quiet) override;
    uint64_t Checksum(int64_t tick, bool ahead) override;

    // An error ended the confirmed game's last tick.
    std::optional<std::string> Failure() const;
    // The confirmed game (null before Start); the shown one (null until Start succeeded).
    kdv::Game* Confirmed() { return game_.get(); }
    const kdv::Game* Shown() const;
    // The input mask the confirmed game's last tick read (the host's bits, then the joiner's).
    uint32_t ConfirmedMask() const;
    // The confirmed game as recorded so far, when its recording began.
    std::optional<replay::Replay> Recording() const;

  private:
    class Screen;

    std::function<uint64_t(const kdv::Game&, long)> hash_;
    std::unique_ptr<HostFiles> files_;
    std::unique_ptr<replay::MaskInput> maskInput_;
    std::unique_ptr<TickClock> tickClock_;
    std::unique_ptr<Screen> screen_;
    // Heard only while the game starts; then the shown game plays the sounds.
    std::unique_ptr<HostGameSound> sound_;
    std::unique_ptr<kdv::Window> window_;
    std::unique_ptr<recording::RecordedGame> recorder_;
    std::unique_ptr<kdv::Game> game_;
    std::unique_ptr<ShownGame> shown_;
};

}  // namespace net
