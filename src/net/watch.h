#pragma once
// Watching a network game from a third machine: it connects to the host as a joiner does, but
// asks to watch. The host sends the game's start (or the state of its confirmed game, when the
// spectator comes in the middle) and then both players' confirmed inputs; the spectator plays
// them a fixed delay behind, through the same game the players run, so that it never waits on a
// round trip and ends on their state. It records what it watched from the state it came in at.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "core/platform/services.h"
#include "net/busy_knock.h"
#include "net/host_files.h"
#include "net/protocol.h"
#include "net/transport.h"
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

constexpr uint32_t kWatchDelayMs = 1000;  // how far behind the players a spectator plays

struct WatchOptions {
    Address address;
    std::string inviteCode;  // normalised; may be empty on the host's own network
    Identity identity;
    kdv::FileSystem* disk = nullptr;    // the graphics, font and sounds
    kdv::Display* display = nullptr;    // may be null (headless)
    kdv::SoundDevice* sound = nullptr;  // may be null; set up already
    // Plays the inputs this far behind their arrival; 0 with paced false: as soon as they come.
    uint32_t delayMs = kWatchDelayMs;
    bool paced = true;
    int64_t stopAfter = 0;  // leaves once the game has run this many ticks (0: to its end)
    // After each tick the spectator's game has run, with the game's tick number.
    std::function<void(int64_t tick, const kdv::Game& game)> afterTick;
};

class WatchSession {
  public:
    enum class Phase { Connecting, Waiting, Watching, Ended };
    enum class End {
        None,
        Over,       // the game ended and every tick of it was watched
        Left,       // this spectator left
        Stopped,    // the game stopped early (a player left, or failed: Message says)
        Lost,       // the host went silent or closed the connection
        Full,       // the game has as many spectators as it takes
        Refused,    // another build or other data files
        WrongCode,  // the invite code is missing or wrong
        Busy,       // the host kept turning this machine away
        Slow,       // this machine fell too far behind and was dropped
        NoAnswer,   // nobody answered at the address
        Error,      // the game could not be made, or failed
    };

    explicit WatchSession(WatchOptions options);
    ~WatchSession();
    WatchSession(const WatchSession&) = delete;
    WatchSession& operator=(const WatchSession&) = delete;

    bool Open(std::string& error);
    // Handles what arrived and plays the ticks that are due; waits up to waitMs for the network.
    void Poll(uint32_t waitMs);
    // The spectator leaves (the players go on).
    void Leave();

    Phase CurrentPhase() const { return phase_; }
    End Ending() const { return end_; }
    bool Failed() const;
    const std::string& Message() const { return message_; }
    // The host as the overlay names it: its name, or the address asked.
    std::string HostName() const;
    std::string Address() const;
    // How many watch the game now, this spectator included (as the host last said).
    int Watching() const { return watching_; }
    // The game's tick the spectator has played to, and the tick it came in after.
    int64_t Played() const { return played_; }
    int64_t From() const { return from_; }
    // Ticks held and not yet played.
    int64_t Buffered() const { return have_ - played_; }
    // The game's last tick, once the host has said it.
    std::optional<int64_t> Final() const { return final_; }
    const kdv::Game* Game() const { return game_.get(); }
    // What was watched, from the state it came in at.
    std::optional<replay::Replay> Recording() const;
    // Times the inputs ran out and the delay was taken again; times it knocked again.
    long dry = 0;
    long retries = 0;

  private:
    using Clock = std::chrono::steady_clock;
    class Screen;

    void Received(const std::vector<uint8_t>& bytes, Clock::time_point now);
    void Closed(uint32_t code, Clock::time_point now);
    void Begin(const Watch& w, Clock::time_point now);
    void Take(const WatchInputs& in, Clock::time_point now);
    void Play(Clock::time_point now);
    bool RunTick();
    void Stop(End why, std::string message);

    WatchOptions o_;
    std::unique_ptr<Link> link_;
    Phase phase_ = Phase::Connecting;
    End end_ = End::None;
    std::string message_;
    std::string hostName_;
    int watching_ = 0;
    Clock::time_point opened_, lastHeard_, lastAck_;
    BusyKnock busy_;
    bool helloSent_ = false;
    bool refused_ = false;

    // The game, once started.
    int64_t from_ = 0;
    int64_t played_ = 0;
    int64_t have_ = 0;                   // every input up to here is held
    std::deque<uint32_t> masks_;         // for ticks played_ + 1 .. have_
    std::map<int64_t, uint32_t> early_;  // arrived before the ticks before them
    std::optional<int64_t> final_;
    std::string finalReason_;
    bool hostGone_ = false;
    // The beat: tick anchorTick_ + k is due at anchor_ + k ticks.
    std::optional<Clock::time_point> anchor_;
    int64_t anchorTick_ = 0;

    std::unique_ptr<HostFiles> files_;
    std::unique_ptr<replay::MaskInput> input_;
    std::unique_ptr<TickClock> clock_;
    std::unique_ptr<Screen> screen_;
    // Heard as they come, since no tick is ever taken back.
    std::unique_ptr<HostGameSound> sound_;
    std::unique_ptr<kdv::Window> window_;
    std::unique_ptr<recording::RecordedGame> recorder_;
    std::unique_ptr<kdv::Game> game_;
};

}  // namespace net
