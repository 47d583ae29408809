#pragma once
// A network game between two machines, from the handshake to the end: it carries the messages
// between the parts that do the work and ends the game when one of them says so. Each machine
// sends its player's input for tick t + D while it runs tick t (input_queue.h); the game the
// player sees runs up to a window of ticks further on the other player's input as guessed, and
// a confirmed game runs each tick once both inputs for it are known (rollback.h, game_pair.h);
// pacing.h keeps both machines on one beat, and hash_check.h compares their confirmed games.
// With a window of 0 the shown and confirmed games are the same: lockstep.
#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/controls/settings.h"
#include "core/platform/services.h"
#include "net/busy_knock.h"
#include "net/door.h"
#include "net/handshake.h"
#include "net/hash_check.h"
#include "net/protocol.h"
#include "net/rejoin.h"
#include "net/transport.h"
#include "replay/format.h"

namespace kdv {
struct Game;
}

namespace net {

class GamePair;
struct GameSetup;
class InputQueue;
class Pacing;
class Rollback;
class Spectators;

constexpr uint32_t kQuietMs = 1000;     // silence after which the game says it waits
constexpr uint32_t kGiveUpMs = 30000;   // silence after which the peer is given up, to the ms
constexpr uint32_t kConnectMs = 10000;  // joiner: time to reach the host

struct Options {
    bool hosting = false;
    Address address;
    uint8_t mode = 2;  // host: gmTwoPlayers or gmDuel
    int32_t stage = 1;
    int64_t ticks = 0;  // host: stop after this many ticks (0: until a player leaves)
    // This machine's: its player's bindings (player 1's rows), and the game's if hosting.
    kdv::Settings settings;
    Identity identity;
    // Host: the game's invite code, as shown; joiner: the code given, normalised (may be
    // empty on the host's own network).
    std::string inviteCode;
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
    std::string name;  // this machine's: told to the other player, and the host's to spectators
    // Joiner: where the token to come back into the game is kept while it lasts (empty: not
    // kept). A seat found there for the address makes the join a rejoin.
    std::filesystem::path seatFolder;
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
    NoAnswer,   // the joiner reached nobody, or the handshake did not finish
    Busy,       // the host stayed busy with another player
    Error,      // an error ended a game step, or the data files could not be read
    WrongCode,  // the host refused this player's invite code (or its lack of one)
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
    long wrongCodes = 0;  // host: Hellos with a missing or wrong invite code
    long unheard = 0;     // host: datagrams dropped from addresses that gave wrong codes
    long retries = 0;     // joiner: times it knocked again on a busy host
    // Host: spectators let in, the most watching at once, those turned away because eight
    // watched, and those dropped for falling behind.
    long spectators = 0;
    long mostWatching = 0;
    long spectatorsFull = 0;
    long spectatorsDropped = 0;
    long rejoins = 0;       // the player who dropped out came back (joiner: this one did)
    long seatsRefused = 0;  // host: machines that asked for the seat without its token
    int64_t firstTick = 0;  // the tick this machine's game began after (a rejoin's state)
};

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
    const std::string& Detail() const;
    // Joiner refused: the Mismatch bits, and the host's build.
    uint8_t RefusedWhat() const;
    const std::string& HostBuild() const;
    // Host: the last player turned away while waiting, in words (empty when none), with the
    // Mismatch bits (0 when it said nothing that fits) and its build.
    const std::string& Notice() const;
    uint8_t TurnedAwayWhat() const;
    const std::string& TurnedAwayBuild() const;
    // Joiner: the host is busy and this machine is knocking again.
    bool Retrying() const { return busy_.Waiting(); }
    // This player, or the other one, asked to leave the game in progress.
    bool Leaving() const { return leaving_; }
    // Ended, and the goodbye (with any reliable message before it) is still on its way.
    bool SayingGoodbye() const { return phase_ == Phase::Ended && link_ && link_->Closing(); }
    // The other player has been silent for this many milliseconds (0 while it is heard).
    uint32_t QuietMs() const;
    // Whole seconds left before a silent partner is given up, rounded up: what the players are
    // shown is what is kept (0 while it is heard).
    uint32_t WaitLeftSeconds() const;
    // The other machine's name, as it said it (empty before the handshake).
    const std::string& PartnerName() const;
    // The game holds: the other player has been silent for a while, and may come back.
    bool Holding() const { return QuietMs() > 0; }
    // Joiner: it connects again to the host, to come back into the game.
    bool Reconnecting() const { return reconnectAt_.has_value(); }
    // "Waiting for NAME — 12 s" while holding, else empty.
    std::string WaitingLine() const;
    // Why the game ended, or what the players should know now (waiting for the peer).
    const std::string& EndMessage() const { return endMessage_; }
    std::string Status() const;
    // Host: how many watch now; whether the game has ended and a spectator still takes its
    // last inputs (keep polling a few seconds more).
    size_t Watching() const;
    bool SpectatorsFinishing() const;
    // The confirmed game: what is recorded and compared.
    kdv::Game* Game();
    // The game this player sees (null before the game starts).
    const kdv::Game* Shown() const;
    int64_t TicksRun() const;
    Stats GetStats() const;
    // The game as recorded so far (nothing before the handshake).
    std::optional<replay::Replay> Recording() const;

  private:
    using Clock = std::chrono::steady_clock;

    void Received(const std::vector<uint8_t>& bytes, Clock::time_point now);
    void Follow(const Handshake::Step& step, Clock::time_point now);
    void Handle(const Message& m, Clock::time_point now);
    void Closed(uint32_t code, Clock::time_point now);
    void TurnAway(Clock::time_point now, CloseCode why);
    void Knocked(const Link::Event& e, Clock::time_point now);
    void ServeSpectators(Clock::time_point now);
    void StartGame(const Welcome& w);
    void RunDue(Clock::time_point now);
    void Confirm();
    bool Confirmed(int64_t tick);
    void SampleLocal(int64_t upTo);
    void SendInputs(Clock::time_point now, bool force);
    void SendHash(int64_t tick);
    void Apart(int64_t tick);
    int64_t Limit() const;
    void StopAt(int64_t final);
    void CheckFinished(Clock::time_point now);
    void EndTogether();
    void Send(const Message& m, bool reliable);
    void End(EndReason reason, std::string message);
    GameSetup SetupFor(const Welcome& w) const;
    // Coming back into the game (session_rejoin.cpp).
    void OpenSeat();
    void KeepSeat(const Welcome& w);
    void Seated(uint32_t candidate, std::span<const uint8_t> bytes, Clock::time_point now);
    void TakeResume(const Resume& r, Clock::time_point now);
    void ResumeGame(const Resume& r, Clock::time_point now);
    void WatchPartner(Clock::time_point now);
    std::string PartnerWords() const;

    Options o_;
    std::unique_ptr<Link> link_;
    std::unique_ptr<Handshake> handshake_;
    std::unique_ptr<Door> door_;              // host: who takes the seat
    std::unique_ptr<Spectators> spectators_;  // host: who watches
    std::string notice_;                      // host: the last machine turned away, in words
    Phase phase_ = Phase::Connecting;
    bool failed_ = false;
    EndReason reason_ = EndReason::None;
    std::string endMessage_;
    // The other machine's address, for endings and the replay: the host's is the last machine
    // that connected; the joiner's is the host as it was asked to join.
    std::string partner_;
    BusyKnock busy_;
    Clock::time_point opened_, phaseSince_, lastHeard_, lastSent_, playEnd_;
    std::clock_t cpuStart_ = 0;

    // The game, once agreed.
    int delay_ = kMinDelay;
    int window_ = 0;
    std::unique_ptr<InputQueue> inputs_;
    std::unique_ptr<Pacing> pacing_;
    std::unique_ptr<GamePair> games_;
    std::unique_ptr<Rollback> rollback_;
    HashCheck hashes_;
    bool newLocal_ = false;  // this player's input for a new tick is not yet sent

    // Its end.
    int64_t peerFinal_ = -1;  // the peer said it ran this many ticks and left
    bool sentBye_ = false;
    bool leaving_ = false;   // this player asked to leave
    bool peerLeft_ = false;  // the other player did

    Stats stats_;  // what the parts do not count themselves

    // Coming back into the game.
    GameId gameId_{};
    RejoinToken token_{};
    std::optional<Welcome> welcome_;  // host: as sent; joiner: as received
    SeatStore seats_{{}};
    std::optional<Seat> seat_;            // joiner: the seat kept on disk it asks for again
    bool seatKept_ = false;               // joiner: a seat of this game is on disk
    std::unique_ptr<SeatLock> seatLock_;  // joiner: ... and this program plays it
    bool awaitingResume_ = false;         // joiner started again: the Welcome came, the state comes
    std::optional<Clock::time_point> reconnectAt_;  // joiner: when to knock again
};

}  // namespace net
