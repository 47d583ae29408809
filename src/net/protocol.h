#pragma once
// The messages two machines exchange during a network game. Every message is one ENet packet:
// a type byte, then fixed little-endian fields. Decoding never trusts the bytes: anything short,
// long, unknown or out of range is refused, and the caller drops it.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "core/field/map.h"
#include "net/invite.h"
#include "replay/format.h"

namespace net {

constexpr uint32_t kProtocolVersion = 5;
constexpr int kMinDelay = 2;
constexpr int kMaxDelay = 6;
// How many ticks a machine may run ahead of the other player's input it holds; 0: none
// (lockstep).
constexpr int kMaxWindow = 32;
constexpr size_t kMaxInputsPerPacket = 64;
constexpr size_t kMaxText = 4096;
constexpr size_t kMaxNameText = 64;
// A game's state as SaveGameState writes it, sent to a player who comes back or a spectator who
// comes in the middle: its screens are run-length coded, a few hundred KB at worst.
constexpr size_t kMaxStateBytes = 8u << 20;
// The inputs a Resume carries of each player past its state: far more than a held game can
// run ahead.
constexpr size_t kMaxResumeInputs = 1024;
// The level records the host sends: whole records, no more than the game can address.
constexpr size_t kMaxLevelBytes = size_t(kdv::kMaxLevelRecords) * kdv::kLevelRecordBytes;
// One player's part of the binding mask: player 1's keyboard and joystick rows.
constexpr int kPlayerBits = 2 * 7;
constexpr uint16_t kPlayerMask = (1u << kPlayerBits) - 1;

// What two machines must share because it cannot be sent: the program's build and the data
// files it draws and writes with. The host sends its settings and level records instead.
struct Identity {
    std::string build;
    replay::DataFile graphics, font;
};
// What keeps a joining player out of a game, one bit each.
enum Mismatch : uint8_t {
    kOtherBuild = 1,
    kOtherGraphics = 2,
    kOtherFont = 4,
    kOtherProtocol = 8,
    kNotThisSeat = 16,  // a rejoin for a seat that is not the sender's (or a game now over)
};
// The bits of Mismatch on which the two machines differ; 0 when they may play together.
uint8_t Mismatches(const Identity& host, const Identity& joiner);
// The mismatches in words, told to the joining player ("your graphics file differs from the
// host's") or to the host ("their graphics file differs from yours").
std::string MismatchText(uint8_t what, const std::string& hostBuild, const std::string& joinerBuild,
                         bool toJoiner);

// Which game a rejoin is for, and the secret that proves it comes from the player who dropped
// out: both drawn from the secure random source by the host for each game.
constexpr size_t kGameIdBytes = 16;
constexpr size_t kTokenBytes = 16;
using GameId = std::array<uint8_t, kGameIdBytes>;
using RejoinToken = std::array<uint8_t, kTokenBytes>;

// Host to a machine that connected: prove you know the invite code by hashing it with this.
struct Challenge {
    Nonce nonce{};
};
// Joiner to host, in answer to the challenge. proof: ProveCode of the challenge and the code
// (the empty code on the host's own network, which needs none).
// What a machine that says Hello comes for.
enum class Role : uint8_t { Player = 0, Spectator = 1 };
// name: the joiner's, shown to the host. A joiner coming back into a game it dropped out of
// names the game and the token the host gave it (all zero for a new game); keeps: it still runs
// that game (only its connection dropped), so it needs no state. role: last on the wire.
struct Hello {
    uint32_t protocol = kProtocolVersion;
    Identity identity;
    Proof proof{};
    std::string name;
    GameId game{};
    RejoinToken token{};
    bool keeps = false;
    Role role = Role::Player;
};
// Host to joiner: not this game (Mismatch bits), with the host's build for the message.
struct Refuse {
    uint8_t what = 0;
    std::string hostBuild;
};
// Round-trip measurement; the receiver sends the same sequence number back as a Pong.
struct Ping {
    uint32_t sequence = 0;
};
struct Pong {
    uint32_t sequence = 0;
};
// Host to joiner: the game to play. settings is the host's settings file and levels the host's
// level records; both games run on them (so both hear the same options and both record the
// same header), and neither touches the joiner's own files.
struct Welcome {
    uint8_t mode = 0;
    int32_t stage = 1;
    uint8_t delay = kMinDelay;
    uint8_t window = 0;
    int64_t ticks = 0;  // the game stops after this many ticks; 0 never
    std::string settings;
    std::vector<uint8_t> levels;
    // The game, the joiner's token to come back into it should its connection drop, and the
    // host's name.
    GameId game{};
    RejoinToken token{};
    std::string hostName;
};
// The sender's inputs for ticks first .. first + masks.size() - 1, and the last tick up to
// which it holds all of the receiver's inputs. Sent unreliably and repeated until acknowledged.
// ahead: how far the sender's game runs ahead of the receiver's input it holds, in quarter
// ticks (smoothed); the machine further ahead slows down until both are as far ahead.
struct Inputs {
    int64_t ack = 0;
    int8_t ahead = 0;
    int64_t first = 1;
    std::vector<uint16_t> masks;
};
// The sender's state hash after running tick.
struct Hash {
    int64_t tick = 0;
    uint64_t hash = 0;
};
// The sender's player leaves: it has sent its inputs up to final and no more, so both games
// run to final (or to the other's final, if both leave), compare, and end there.
struct Stop {
    int64_t final = 0;
};
// The sender leaves the game; final is the last tick it ran (or 0 when none).
struct Bye {
    int64_t final = 0;
    std::string reason;
};

// Host to a spectator: the game it watches, from tick from + 1 on. from 0: from the start, which
// it makes as the joiner does; otherwise it takes the confirmed game's state after tick from,
// with the level dialog as the host's game holds it and the input mask that tick read.
struct Watch {
    int64_t from = 0;
    uint8_t mode = 0;
    int32_t stage = 1;
    int64_t ticks = 0;  // the agreed length (0: until a player leaves)
    std::string settings;
    std::vector<uint8_t> levels;
    std::string host;  // the host's name, for the overlay
    int32_t position = 1, gameItem = 0;
    uint32_t mask = 0;
    std::vector<uint8_t> state;  // empty when from is 0
};
// Host to a spectator: both players' confirmed inputs for ticks first .., each the host's mask
// and the joiner's shifted past it (kPlayerBits), and how many watch now. Sent unreliably and
// sent again from the spectator's acknowledgement on; may hold no input (the count alone).
struct WatchInputs {
    int64_t first = 1;
    uint8_t watching = 0;
    std::vector<uint32_t> masks;
};
// Spectator to host: it holds every input up to tick.
struct WatchAck {
    int64_t tick = 0;
};

constexpr size_t kMaxWatchInputs = 256;      // ticks in one WatchInputs: about 1 KB

// Host to a joiner that came back, after the Welcome: the host's confirmed game after tick (its
// state, the level dialog's choice and the input it last read) and both players' inputs known
// past it. ahead: the last tick the host's game has run; the joiner runs up to it unpaced.
struct Resume {
    int64_t tick = 0;
    int64_t ahead = 0;
    std::vector<uint8_t> state;
    int32_t position = 1;
    uint8_t gameItem = 0;
    uint32_t mask = 0;
    std::vector<uint16_t> host, joiner;
};

using Message = std::variant<Hello, Refuse, Ping, Pong, Welcome, Inputs, Hash, Bye, Stop, Challenge,
                             Watch, WatchInputs, WatchAck, Resume>;

std::vector<uint8_t> Encode(const Message& message);
std::optional<Message> Decode(std::span<const uint8_t> bytes);
// The protocol version of anything that starts as a Hello does, whatever follows it: a program
// of another version is told why it cannot join.
std::optional<uint32_t> HelloProtocol(std::span<const uint8_t> bytes);

}  // namespace net
