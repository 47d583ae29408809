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

#include "replay/format.h"

namespace net {

constexpr uint32_t kProtocolVersion = 1;
constexpr int kMinDelay = 2;
constexpr int kMaxDelay = 6;
constexpr size_t kMaxInputsPerPacket = 64;
constexpr size_t kMaxText = 4096;
// One player's part of the binding mask: player 1's keyboard and joystick rows.
constexpr int kPlayerBits = 2 * 7;
constexpr uint16_t kPlayerMask = (1u << kPlayerBits) - 1;

// What makes two machines play the same game from the same inputs.
struct Identity {
    std::string gameVersion;
    std::array<replay::DataFile, replay::kDataFiles.size()> data{};
    // The one setting that changes play; the number of tanks and the entry star's speed
    // follow from it.
    int32_t gameDifficulty = 0;
};
// Why two machines would not play the same game, in words, or nothing.
std::optional<std::string> Differences(const Identity& host, const Identity& joiner);

// Joiner to host, first thing after connecting.
struct Hello {
    uint32_t protocol = kProtocolVersion;
    Identity identity;
};
// Host to joiner: not this game, and why.
struct Refuse {
    std::string reason;
};
// Round-trip measurement; the receiver sends the same sequence number back as a Pong.
struct Ping {
    uint32_t sequence = 0;
};
struct Pong {
    uint32_t sequence = 0;
};
// Host to joiner: the game to play. settings is the host's settings file, which both games run
// on (so both hear the same bindings and both record the same header).
struct Welcome {
    uint8_t mode = 0;
    int32_t stage = 1;
    uint8_t delay = kMinDelay;
    int64_t ticks = 0;  // the game stops after this many ticks; 0 never
    std::string settings;
};
// The sender's inputs for ticks first .. first + masks.size() - 1, and the last tick up to
// which it holds all of the receiver's inputs. Sent unreliably and repeated until acknowledged.
struct Inputs {
    int64_t ack = 0;
    int64_t first = 1;
    std::vector<uint16_t> masks;
};
// The sender's state hash after running tick.
struct Hash {
    int64_t tick = 0;
    uint64_t hash = 0;
};
// The sender leaves the game; final is the last tick it ran (or 0 when none).
struct Bye {
    int64_t final = 0;
    std::string reason;
};

using Message = std::variant<Hello, Refuse, Ping, Pong, Welcome, Inputs, Hash, Bye>;

std::vector<uint8_t> Encode(const Message& message);
std::optional<Message> Decode(std::span<const uint8_t> bytes);

}  // namespace net
