#pragma once
// A replay file: a header that names the game, its data files and the settings in force, then
// the stream of what the game read from its input, stored as changes. docs/replays.md has the
// byte layout.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/controls/settings.h"

namespace replay {

constexpr uint16_t kFormatVersion = 2;
constexpr size_t kMaxFileBytes = 64u << 20;
constexpr uint8_t kNoMode = 0xFF;  // the stream holds no game (title and demo only)

// The game's version, as the program reports it.
std::string GameVersion();

// The settings that change play, with the entry star's speed that follows from them.
struct PlaySettings {
    kdv::Settings settings;
    int32_t starPeriod = 32;
};
bool operator==(const PlaySettings& a, const PlaySettings& b);

// A data file as it was when the recording began: its length and a hash of its bytes.
struct DataFile {
    uint64_t size = 0;
    uint64_t hash = 0;
};
// The files whose contents shape the game: graphics pack, level file, font.
constexpr std::array<const char*, 3> kDataFiles = {"data/tank.grp", "data/lswap.dat",
                                                   "data/tank.fnt"};

struct Header {
    uint16_t formatVersion = kFormatVersion;
    std::string gameVersion;
    std::array<DataFile, kDataFiles.size()> data{};
    PlaySettings start;      // in force when the first tick ran
    uint8_t mode = kNoMode;  // the game this file was kept for
    int32_t stage = 0;       // its starting stage
    int64_t watchFrom = 0;   // ticks before the game began; a viewer skips them
    int64_t ticks = 0;       // ticks in the stream
};

// The slots of the binding table, in the order of the input mask's bits: player 1's keys and
// joystick, then player 2's, seven actions each.
constexpr int kBindingSlots = 28;
constexpr uint32_t kCannotDrawBit = 1u << kBindingSlots;  // the display could not draw

// The menu items that change the game directly. The others change only settings or the
// window, and reach the stream as settings.
constexpr std::array<const char*, 6> kMenuItems = {"MDemo",      "MStart1Player", "MStart2Player",
                                                   "MStartDuel", "MLevelEditor",  "PauseOnOffP1"};
std::optional<uint8_t> MenuIndex(std::string_view item);

struct Event {
    enum Kind : uint8_t {
        Ticks = 1,      // a: ticks to run with the input as it stands
        Input = 2,      // a: the new input mask
        Key = 3,        // a: a key went down in the window (what the demo, tally and editor see)
        Menu = 4,       // a: index into kMenuItems
        Settings = 5,   // a: index into Replay::settings
        Clock = 6,      // a: the millisecond clock read by the game, in reading order
        SelectOk = 7,   // a: stage, b: game item 0..2; Ok on the level selection dialog
        OptionsOk = 8,  // Ok on the options dialog: its working copy becomes the settings
        Dialogs = 9,    // a: index into Replay::dialogs
    };
    Kind kind = Ticks;
    int64_t a = 0;
    int32_t b = 0;
};

// What the dialogs hold between openings and while open: the level dialog's choice and the
// options dialog's working copy. It changes no play until an Ok, but a dump shows it.
struct DialogState {
    int32_t position = 1, gameItem = 0;
    bool optionsOpen = false;
    kdv::Settings working;
};
bool operator==(const DialogState& a, const DialogState& b);

struct Replay {
    Header header;
    std::vector<Event> events;
    std::vector<PlaySettings> settings;
    std::vector<DialogState> dialogs;
};

std::vector<uint8_t> Encode(const Replay& replay);

struct DecodeResult {
    std::optional<Replay> replay;
    std::string error;  // why there is none
};
// Never trusts the bytes: a short, corrupt or hostile file gives an error, not a crash.
// checkSum false skips the final checksum (the fuzzer's way past it).
DecodeResult Decode(std::span<const uint8_t> bytes, bool checkSum = true);

uint64_t Fnv1a(std::span<const uint8_t> bytes, uint64_t hash = 14695981039346656037ull);
uint32_t Crc32(std::span<const uint8_t> bytes);

}  // namespace replay
