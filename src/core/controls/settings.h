#pragma once
// The settings record and its INI file. The file is read once when the main window is created
// and written when it closes; a missing key, section or file leaves the default in force.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kdv {

struct Game;
class FileSystem;

// Order of the seven bindings of a row.
enum Action { MoveUp = 0, MoveDown, MoveLeft, MoveRight, Fire, Start, Pause };
constexpr int kActions = 7;
using BindingRow = std::array<int32_t, kActions>;

constexpr int32_t kNoJoystickState = 36;

struct Settings {
    int32_t soundVolume = 100;
    int32_t gameDifficulty = 0;
    int32_t language = 1;
    bool soundEnable = true;
    bool moreTanks = false;
    bool paletteType = false;
    bool fullScreen = false;
    bool smallScreen = false;
    bool forceFeedback = false;
    BindingRow keys1 = {38, 40, 37, 39, 17, 32, 80};
    BindingRow joystick1 = {36, 36, 36, 36, 36, 36, 36};
    BindingRow keys2 = {87, 90, 65, 83, 16, 32, 0};
    BindingRow joystick2 = {36, 36, 36, 36, 36, 36, 0};
};

extern const char* const kActionKeys[kActions];  // "MoveUp" .. "Pause"
constexpr const char* kSettingsFile = "kordavel.ini";

// Reads the INI text over the record's current values (missing or unreadable values keep
// them), then limits the difficulty and the language. A byte-order mark, CRLF line ends,
// spaces and a "; comment" after a value are allowed.
void ParseSettings(const std::string& iniText, Settings& settings);
// The INI text with all 30 keys in five sections.
std::string FormatSettings(const Settings& settings);
// The file as it is now with the record's values in it: every line the game does not own is
// kept, a value the game could not read stays unless the player has set another, and missing
// keys and sections are added in the order of FormatSettings.
std::string MergeSettings(const std::string& oldText, const Settings& settings);
constexpr uint64_t kMaxSettingsBytes = 1 << 20;
// One value of any section, for settings that are no part of the game: the value of the first
// line of the key in the section (names match without regard to case), without a "; comment".
std::optional<std::string> IniValue(const std::string& iniText, std::string_view section,
                                    std::string_view key);
// The text with that value set, every other line kept; a missing key goes after its section's
// last key, a missing section at the end.
std::string SetIniValue(const std::string& iniText, std::string_view section, std::string_view key,
                        const std::string& value);

// Values that follow from the settings: more tanks and the entry star's speed.
void DeriveSettings(Game& game);
void ReadIni(Game& game);
void SaveIni(Game& game);
// The same, to files other than the game's: a host that saves while a game is recorded writes
// past the recording, since a settings save is no event of the game.
void SaveIni(const Game& game, FileSystem& files);

}  // namespace kdv
