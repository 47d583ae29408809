#include "core/controls/settings.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>
#include <sstream>
#include <vector>

#include "core/game.h"

namespace kdv {

const char* const kActionKeys[kActions] = {"MoveUp", "MoveDown", "MoveLeft", "MoveRight",
                                           "Fire",   "Start",    "Pause"};

namespace {

struct Section {
    const char* name;
    BindingRow Settings::*row;
    int keys;  // player 2's Start and Pause are not stored
};

constexpr Section kBindingSections[] = {
    {"KeysForPlayer1", &Settings::keys1, 7},
    {"JoystickForPlayer1", &Settings::joystick1, 7},
    {"KeysForPlayer2", &Settings::keys2, 5},
    {"JoystickForPlayer2", &Settings::joystick2, 5},
};

std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Trim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos) return "";
    size_t b = s.find_last_not_of(" \t\r");
    return s.substr(a, b - a + 1);
}

// Section and key names are matched without regard to case; the first occurrence wins.
class IniReader {
  public:
    explicit IniReader(const std::string& text) {
        std::istringstream in(text);
        std::string line, section;
        while (std::getline(in, line)) {
            line = Trim(line);
            if (line.empty() || line[0] == ';' || line[0] == '#') continue;
            if (line.front() == '[' && line.back() == ']') {
                section = Lower(Trim(line.substr(1, line.size() - 2)));
                continue;
            }
            size_t eq = line.find('=');
            if (eq == std::string::npos) continue;
            entries_.push_back(
                {section, Lower(Trim(line.substr(0, eq))), Trim(line.substr(eq + 1))});
        }
    }

    // A value that is missing or not a whole number keeps the current one.
    void ReadInteger(const char* section, const char* key, int32_t& value) const {
        const std::string s = Lower(section), k = Lower(key);
        for (const Entry& e : entries_) {
            if (e.section != s || e.key != k) continue;
            int32_t parsed = 0;
            const char* first = e.value.data();
            const char* last = first + e.value.size();
            if (first != last && *first == '+') ++first;
            auto [end, error] = std::from_chars(first, last, parsed);
            if (error == std::errc() && end == last && first != last) value = parsed;
            return;
        }
    }

    void ReadBool(const char* section, const char* key, bool& value) const {
        int32_t v = value ? 1 : 0;
        ReadInteger(section, key, v);
        value = v != 0;
    }

  private:
    struct Entry {
        std::string section, key, value;
    };
    std::vector<Entry> entries_;
};

}  // namespace

void ParseSettings(const std::string& iniText, Settings& settings) {
    const IniReader ini(iniText);
    ini.ReadBool("Options", "SoundEnable", settings.soundEnable);
    ini.ReadInteger("Options", "SoundVolume", settings.soundVolume);
    ini.ReadInteger("Options", "Language", settings.language);
    ini.ReadBool("Options", "PaletteType", settings.paletteType);
    ini.ReadInteger("Options", "GameDifficulty", settings.gameDifficulty);
    ini.ReadBool("Options", "ForceFeedback", settings.forceFeedback);
    for (const Section& section : kBindingSections)
        for (int i = 0; i < section.keys; ++i)
            ini.ReadInteger(section.name, kActionKeys[i], (settings.*section.row)[size_t(i)]);
    settings.gameDifficulty = std::min(settings.gameDifficulty, 3);
    if (settings.language != 0 && settings.language != 1) settings.language = 1;
}

std::string FormatSettings(const Settings& settings) {
    std::ostringstream out;
    out << "[Options]\n"
        << "SoundEnable=" << (settings.soundEnable ? 1 : 0) << "\n"
        << "SoundVolume=" << settings.soundVolume << "\n"
        << "Language=" << settings.language << "\n"
        << "PaletteType=" << (settings.paletteType ? 1 : 0) << "\n"
        << "GameDifficulty=" << settings.gameDifficulty << "\n"
        << "ForceFeedback=" << (settings.forceFeedback ? 1 : 0) << "\n";
    for (const Section& section : kBindingSections) {
        out << "\n[" << section.name << "]\n";
        for (int i = 0; i < section.keys; ++i)
            out << kActionKeys[i] << "=" << (settings.*section.row)[size_t(i)] << "\n";
    }
    return out.str();
}

void DeriveSettings(Game& game) {
    game.Settings.moreTanks = game.Settings.gameDifficulty >= 1;
    game.StarPeriod = game.Settings.gameDifficulty >= 2 ? 16 : 32;
}

void ReadIni(Game& game) {
    // Settings files are small; anything past the first megabyte is not ours.
    auto data = game.io.files->Read(kSettingsFile, 0, 1 << 20);
    if (data) ParseSettings(std::string(data->begin(), data->end()), game.Settings);
    DeriveSettings(game);
    if (game.io.input) game.io.input->SetForceFeedback(game.Settings.forceFeedback);
}

void SaveIni(Game& game) {
    const std::string text = FormatSettings(game.Settings);
    if (!game.io.files->Replace(kSettingsFile, std::vector<uint8_t>(text.begin(), text.end())))
        throw FileError("Settings could not be saved to \"" + std::string(kSettingsFile) + "\"");
}

}  // namespace kdv
