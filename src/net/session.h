#pragma once
// A network game between two machines: the handshake, then play. Each machine sends its
// player's input for tick t + D while it runs tick t. The confirmed game runs a tick only when
// both inputs for it are known, so both machines' confirmed games read the same input every
// tick; they are recorded as replays and every 60 ticks their hashes are compared, and a
// difference stops the game. The game the player sees runs up to a window of ticks further on
// the other player's input as guessed, and is corrected from the confirmed game when a guess
// was wrong (see shown_game.h). With a window of 0 the two are the same: lockstep.
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/controls/settings.h"
#include "core/platform/services.h"
#include "net/protocol.h"
#include "net/transport.h"
#include "replay/format.h"
#include "replay/mask_input.h"

namespace kdv {
struct Game;
}
namespace recording {
class RecordedGame;
}

namespace net {

class ShownGame;

constexpr int kHashPeriod = 60;           // ticks between state comparisons
constexpr uint32_t kQuietMs = 1000;       // silence after which the game says it waits
constexpr uint32_t kGiveUpMs = 10000;     // silence after which the peer is given up
constexpr uint32_t kConnectMs = 10000;    // joiner: time to reach the host
constexpr uint32_t kHandshakeMs = 10000;  // either: time for the handshake once connected
constexpr uint32_t kHelloMs = 2000;       // host: a joiner says Hello at once, or is turned away
constexpr uint32_t kBusyRetryMs = 6000;   // joiner: how long to knock again on a busy host

struct Options {
    bool hosting = false;
    Address address;
    uint8_t mode = 2;  // host: gmTwoPlayers or gmDuel
    int32_t stage = 1;
    int64_t ticks = 0;  // host: stop after this many ticks (0: until a player leaves)
    // This machine's: its player's bindings (player 1's rows), and the game's if hosting.
    kdv::Settings settings;
    Identity identity;
    kdv::FileSystem* disk = nullptr;    // the data files; the host's level records come from it
    kdv::InputDevice* input = nullptr;  // this player's keyboard and joystick
    kdv::Display* display = nullptr;    // may be null (headless)
    kdv::SoundDevice* sound = nullptr;  // may be null; set up already
    std::function<uint64_t(const kdv::Game&, long)> hash;
    // Called before this player's input for a tick is read (a script sets its keys here).
    std::function<void(int64_t tick)> beforeInput;
    // Called after each tick has run, with the game as that tick left it.
    std::function<void(int64_t tick, const kdv::Game& game)> afterTick;
    bool paced = true;           // one tick per 13 ms; false: as fast as both machines agree
    uint32_t waitForPeerMs = 0;  // host: give up when nobody has joined by then (0: never)
    // Host: how far the shown game may run ahead of the other player's input (0: lockstep;
    // negative: chosen from the round trip).
    int window = -1;
    // For tests: replaces the guess of the other player's input for a tick, and corrects the
    // shown game after every guess, right or wrong.
    std::function<uint16_t(int64_t tick, uint16_t guess)> guess;
    bool correctAlways = false;
    int ticksPerPoll = 256;          // at most; fewer make a machine that falls behind
    bool keepTickIntervals = false;  // for Stats::tickIntervalsMs
    bool polledEachTick = false;     // the caller polls on a 13 ms beat of its own (a window)
};

enum class Phase { Connecting, Handshake, Playing, Finishing, Ended };

// How a network game ended, for the window to say in the player's language.
enum class EndReason {
    None,
    Over,           // the agreed length was played
    Left,           // this player left
    PeerLeft,       // the other player left
    Lost,           // the connection was lost for good
    Refused,        // no longer ends a game: a host turns a player away and keeps waiting
    RefusedByHost,  // the host refused this player (RefusedWhat says what differs)
    Apart,          // the states differed
    NobodyJoined,
    NoAnswer,  // the joiner reached nobody, or the handshake did not finish
    Busy,      // the host stayed busy with another player
    Error,     // an error ended a game step, or the data files could not be read
};

struct Stats {
    int delay = 0;
    int window = 0;
    uint32_t roundTripMs = 0;  // measured in the handshake (the joiner: as ENet measures it)
    int64_t ticks = 0;
    long stalls = 0;  // times a due tick had to wait for the other machine
    double stalledSeconds = 0;
    double playSeconds = 0;
    long hashChecks = 0;  // comparisons that agreed
    long rollbacks = 0;   // corrections of the shown game from the confirmed one
    long ticksRunAgain = 0;
    double cpuSeconds = 0;                // of the whole program while the game was played
    double tickSeconds = 0;               // running both games' ticks, corrections included
    std::vector<double> tickIntervalsMs;  // between the shown game's ticks, when kept
    long strangers = 0;                   // packets and connections of other machines, turned away
    long turnedAway = 0;  // host: connections that did not fit, or said nothing, while waiting
    long retries = 0;     // joiner: times it knocked again on a busy host
};

// The identity of this program with these data files.
Identity IdentityOf(kdv::FileSystem& disk, const std::string& build);
// The level records the host sends: the whole records of its level file, as many as the game
// can address. Empty when the file cannot be read.
std::vector<uint8_t> LevelRecords(kdv::FileSystem& disk);

class Session {
  public:
    explicit Session(Options options);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Starts listening or connecting; false with error set when that is impossible (a host
    // whose level file lacks the stage).
    bool Open(std::string& error);
    // Handles what arrived and runs the ticks that are due; waits up to waitMs for the network.
    void Poll(uint32_t waitMs);
    // This player leaves. Before the game: at once. During it: both games run to the last tick
    // this player's input was sent for, compare their states and end there together, so both
    // replays end on the same tick; keep polling until the phase is Ended.
    void Leave();
    // Ends at once, without waiting for the other machine (the program is closing).
    void Quit();

    Phase CurrentPhase() const { return phase_; }
    bool Hosting() const { return o_.hosting; }
    uint16_t Port() const { return o_.address.port; }
    // The address the game concerns: the host's "HOST:PORT" for the joiner; for the host, its
    // partner's "IP:PORT" once one has connected, else "port N".
    std::string Address() const;
    // How the game ended, naming that address.
    std::string Ending() const;
    bool Failed() const { return failed_; }
    EndReason Reason() const { return reason_; }
    // What differs between the machines, when a player was refused.
    const std::string& Detail() const { return detail_; }
    // Joiner refused: the Mismatch bits, and the host's build.
    uint8_t RefusedWhat() const { return refusedWhat_; }
    const std::string& HostBuild() const { return hostBuild_; }
    // Host: the last player turned away while waiting, in words (empty when none), with the
    // Mismatch bits (0 when it said nothing that fits) and its build.
    const std::string& Notice() const { return notice_; }
    uint8_t TurnedAwayWhat() const { return turnedAwayWhat_; }
    const std::string& TurnedAwayBuild() const { return turnedAwayBuild_; }
    // Joiner: the host is busy and this machine is knocking again.
    bool Retrying() const { return retryAt_.has_value(); }
    // This player, or the other one, asked to leave the game in progress.
    bool Leaving() const { return leaving_; }
    // Ended, and the goodbye (with any reliable message before it) is still on its way.
    bool SayingGoodbye() const { return phase_ == Phase::Ended && link_ && link_->Closing(); }
    // The other player has been silent for this many milliseconds (0 while it is heard).
    uint32_t QuietMs() const;
    // Why the game ended, or what the players should know now (waiting for the peer).
    const std::string& EndMessage() const { return endMessage_; }
    std::string Status() const;
    // The confirmed game: what is recorded and compared.
    kdv::Game* Game() { return game_.get(); }
    // The game this player sees (null before the game starts).
    const kdv::Game* Shown() const;
    int64_t TicksRun() const { return next_ - 1; }
    Stats GetStats() const;
    // The game as recorded so far (nothing before the handshake).
    std::optional<replay::Replay> Recording() const;

  private:
    using Clock = std::chrono::steady_clock;
    class Files;
    class TickClock;
    class Screen;
    class Sound;

    void Handle(const Message& m, Clock::time_point now);
    void HandleHello(const Hello& h, Clock::time_point now);
    void RefusePartner(uint8_t what, const std::string& theirBuild, Clock::time_point now);
    void Closed(uint32_t code, Clock::time_point now);
    void StopAt(int64_t final);
    void EndTogether();
    void SendHash(int64_t tick);
    void HandleWelcome(const Welcome& w);
    void HandleInputs(const Inputs& in);
    void HandleHash(const Hash& h);
    void Handshake(Clock::time_point now);
    void TurnAway(Clock::time_point now, CloseCode why);
    void StartGame(const std::string& settingsText, uint8_t mode, int32_t stage);
    void RunDue(Clock::time_point now);
    void Confirm();
    void Correct();
    void RunShown(int64_t tick, bool quiet);
    uint32_t MaskOf(uint16_t mine, uint16_t theirs) const;
    void RunTick();
    void SampleLocal(int64_t upTo);
    void SendInputs(Clock::time_point now, bool force);
    void CompareHashes();
    void CheckFinished(Clock::time_point now);
    void Send(const Message& m, bool reliable);
    void End(EndReason reason, std::string message);

    Options o_;
    std::unique_ptr<Link> link_;
    Phase phase_ = Phase::Connecting;
    bool failed_ = false;
    EndReason reason_ = EndReason::None;
    std::string endMessage_;
    std::string detail_;
    uint8_t refusedWhat_ = 0;
    std::string hostBuild_;
    std::string notice_;
    uint8_t turnedAwayWhat_ = 0;
    std::string turnedAwayBuild_;
    // The other machine's address, for endings and the replay: the host's is the last machine
    // that connected; the joiner's is the host as it was asked to join.
    std::string partner_;
    std::optional<Clock::time_point> busySince_, retryAt_;
    std::vector<uint8_t> levels_;  // the level records both games play from
    Clock::time_point opened_, phaseSince_, lastHeard_, lastSent_, nextDue_, playStart_, playEnd_,
        lastTickAt_;
    bool waited_ = false;  // the tick now due had to wait for the other machine's input

    // Handshake.
    bool helloSeen_ = false;
    std::map<uint32_t, Clock::time_point> pings_;
    std::vector<uint32_t> roundTrips_;
    int delay_ = kMinDelay;
    int window_ = 0;
    int64_t limit_ = 0;

    // Ticks are numbered from 1; the first delay_ ticks of both players are empty.
    int64_t next_ = 1;                     // the next tick the confirmed game runs
    int64_t shownNext_ = 1;                // ... the shown game runs, never behind next_
    std::map<int64_t, uint16_t> local_;    // this player's inputs not yet acknowledged
    int64_t lastLocal_ = 0;                // last tick whose local input is read
    int64_t peerAck_ = 0;                  // the peer holds all local inputs up to here
    std::map<int64_t, uint16_t> remote_;   // the peer's inputs for ticks not yet run
    int64_t remoteKnown_ = 0;              // all remote inputs up to here are known
    uint16_t lastRemote_ = 0;              // the remote input of tick remoteKnown_
    std::map<int64_t, uint16_t> guessed_;  // the remote inputs the shown game guessed
    double ahead_ = 0;      // how far the shown game runs ahead of the remote inputs, smoothed
    double peerAhead_ = 0;  // the same of the other machine, as it says
    std::clock_t cpuStart_ = 0;
    bool peerStarted_ = true;     // host: the joiner's first inputs arrived
    Clock::duration slowedBy_{};  // slowing down not yet taken as a skipped poll
    std::map<int64_t, uint64_t> localHashes_, remoteHashes_;
    int64_t peerFinal_ = -1;  // the peer said it ran this many ticks and left
    bool sentBye_ = false;
    bool leaving_ = false;   // this player asked to leave
    bool peerLeft_ = false;  // the other player did
    int64_t hashedTo_ = 0;   // the last tick whose hash was sent

    // The game, on devices that answer from the agreed inputs.
    std::unique_ptr<Files> files_;
    std::unique_ptr<replay::MaskInput> maskInput_;
    std::unique_ptr<TickClock> tickClock_;
    std::unique_ptr<Screen> screen_;
    std::unique_ptr<Sound> sound_;
    std::unique_ptr<kdv::Window> virtualWindow_;
    std::unique_ptr<recording::RecordedGame> recorder_;
    std::unique_ptr<kdv::Game> game_;
    std::unique_ptr<ShownGame> shown_;

    Stats stats_;
    bool newLocal_ = false;
};

}  // namespace net
