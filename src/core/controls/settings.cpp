#include "core/controls/settings.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <sstream>
#include <string_view>
#include <unordered_map>
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

// One of the 30 keys the game owns: where it is and how to reach its value in the record.
struct OwnedKey {
    const char* section;
    const char* key;
    int32_t* integer = nullptr;
    bool* flag = nullptr;
    int32_t Get() const { return integer ? *integer : (*flag ? 1 : 0); }
    void Set(int32_t v) const {
        if (integer)
            *integer = v;
        else
            *flag = v != 0;
    }
};

std::vector<OwnedKey> OwnedKeys(Settings& s) {
    std::vector<OwnedKey> keys = {
        {"Options", "SoundEnable", nullptr, &s.soundEnable},
        {"Options", "SoundVolume", &s.soundVolume},
        {"Options", "Language", &s.language},
        {"Options", "PaletteType", nullptr, &s.paletteType},
        {"Options", "GameDifficulty", &s.gameDifficulty},
        {"Options", "ForceFeedback", nullptr, &s.forceFeedback},
    };
    for (const Section& section : kBindingSections)
        for (int i = 0; i < section.keys; ++i)
            keys.push_back({section.name, kActionKeys[i], &(s.*section.row)[size_t(i)]});
    return keys;
}

// Names match without regard to case: they are kept in lower case, ASCII letters only (the
// names are ASCII, and the C library's tolower would follow the locale the toolkit sets).
std::string Lower(std::string_view name) {
    std::string lower(name);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return lower;
}

std::string_view Trim(std::string_view s) {
    const size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string_view::npos) return {};
    return s.substr(a, s.find_last_not_of(" \t\r") - a + 1);
}

// One line of the file as read: its text without the line end, and for a key line where the
// name and the value (without a trailing "; comment") are.
struct Line {
    std::string text;  // as in the file, without "\n" or "\r\n"
    std::string ending;
    size_t section = 0;  // the section it is in (a section line: its own), in Lines::sections
    bool isSection = false;
    bool isKey = false;
    std::string key;                      // in lower case
    size_t valueBegin = 0, valueEnd = 0;  // the value's place in text
};

// The lines, and the names of their sections in lower case (0: before the first section).
// A line holds its section's number rather than a copy of the name: reading a file is then
// no more allocations than it has lines.
struct Lines {
    std::vector<Line> lines;
    std::vector<std::string> sections{""};
    // Looked up by name, so that a file of many sections reads in one pass.
    std::unordered_map<std::string, size_t> numbers{{"", 0}};

    size_t SectionNumber(const std::string& lowerName) {
        const auto [it, added] = numbers.emplace(lowerName, sections.size());
        if (added) sections.push_back(lowerName);
        return it->second;
    }
};

// A UTF-8 byte-order mark from an editor stays where it is, but is no part of the first line.
Lines SplitLines(std::string_view text) {
    Lines result;
    std::vector<Line>& lines = result.lines;
    size_t count = 1;
    for (size_t at = text.find('\n'); at != std::string_view::npos; at = text.find('\n', at + 1))
        ++count;
    lines.reserve(count);
    size_t section = 0;
    size_t pos = 0;
    bool first = true;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        Line line;
        line.ending = end == std::string_view::npos ? "" : "\n";
        if (end == std::string_view::npos) end = text.size();
        line.text = std::string(text.substr(pos, end - pos));
        pos = end + line.ending.size();
        if (!line.ending.empty() && !line.text.empty() && line.text.back() == '\r') {
            line.text.pop_back();
            line.ending = "\r" + line.ending;
        }
        std::string_view body = line.text;
        size_t skip = 0;
        if (first && body.substr(0, 3) == "\xEF\xBB\xBF") skip = 3;
        first = false;
        body.remove_prefix(skip);
        const std::string_view trimmed = Trim(body);
        if (trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '#') {
            // blank or a comment: kept as it is
        } else if (trimmed.front() == '[') {
            const size_t close = trimmed.find(']');
            if (close != std::string_view::npos) {
                section = result.SectionNumber(Lower(Trim(trimmed.substr(1, close - 1))));
                line.isSection = true;
            }
        } else if (size_t eq = body.find('='); eq != std::string_view::npos) {
            line.isKey = true;
            line.key = Lower(Trim(body.substr(0, eq)));
            const size_t from = skip + eq + 1;
            size_t to = line.text.find(';', from);
            if (to == std::string::npos) to = line.text.size();
            const std::string_view raw = std::string_view(line.text).substr(from, to - from);
            const size_t a = raw.find_first_not_of(" \t\r");
            line.valueBegin = a == std::string_view::npos ? to : from + a;
            line.valueEnd =
                a == std::string_view::npos ? to : from + raw.find_last_not_of(" \t\r") + 1;
        }
        line.section = section;
        lines.push_back(std::move(line));
    }
    return result;
}

// A whole decimal number with an optional sign; nullopt for anything else.
std::optional<int32_t> ReadNumber(std::string_view value) {
    const char* first = value.data();
    const char* last = first + value.size();
    if (first != last && *first == '+') ++first;
    int32_t parsed = 0;
    auto [end, error] = std::from_chars(first, last, parsed);
    if (first == last || error != std::errc() || end != last) return std::nullopt;
    return parsed;
}

constexpr size_t kNotFound = size_t(-1);

// For each owned key, in OwnedKeys' order, the first line that holds it in its section (names
// match without regard to case), or kNotFound. One pass over the lines: a file can be long.
std::vector<size_t> FindOwned(const Lines& file) {
    const std::vector<Line>& lines = file.lines;
    static const std::unordered_map<std::string, size_t> index = [] {
        Settings any;
        std::unordered_map<std::string, size_t> names;
        const std::vector<OwnedKey> keys = OwnedKeys(any);
        for (size_t k = 0; k < keys.size(); ++k)
            names.emplace(Lower(keys[k].section) + '\n' + Lower(keys[k].key), k);
        return names;
    }();
    std::vector<size_t> found(index.size(), kNotFound);
    std::string name;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!lines[i].isKey) continue;
        name.assign(file.sections[lines[i].section]).append(1, '\n').append(lines[i].key);
        const auto it = index.find(name);
        if (it != index.end() && found[it->second] == kNotFound) found[it->second] = i;
    }
    return found;
}

std::string_view Value(const Line& line) {
    return std::string_view(line.text).substr(line.valueBegin, line.valueEnd - line.valueBegin);
}

// Reads the values without limiting them.
void ReadValues(const Lines& file, Settings& settings) {
    const std::vector<OwnedKey> keys = OwnedKeys(settings);
    const std::vector<size_t> found = FindOwned(file);
    for (size_t k = 0; k < keys.size(); ++k)
        if (found[k] != kNotFound)
            if (auto v = ReadNumber(Value(file.lines[found[k]]))) keys[k].Set(*v);
}

}  // namespace

void ParseSettings(const std::string& iniText, Settings& settings) {
    ReadValues(SplitLines(iniText), settings);
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

std::string MergeSettings(const std::string& oldText, const Settings& settings) {
    if (oldText.empty()) return FormatSettings(settings);
    Lines file = SplitLines(oldText);
    std::vector<Line>& lines = file.lines;
    Settings copy = settings;
    const Settings defaults;
    Settings copyOfDefaults = defaults;
    const std::vector<OwnedKey> keys = OwnedKeys(copy);
    const std::vector<OwnedKey> defaultKeys = OwnedKeys(copyOfDefaults);
    // New lines take the file's own line end.
    std::string ending = "\n";
    for (const Line& line : lines)
        if (!line.ending.empty()) {
            ending = line.ending;
            break;
        }

    std::vector<size_t> found = FindOwned(file);
    for (size_t k = 0; k < keys.size(); ++k) {
        const OwnedKey& owned = keys[k];
        const std::string value = std::to_string(owned.Get());
        if (found[k] != kNotFound) {
            Line* line = &lines[found[k]];
            // A value the game could not read stays as it was, unless the player has since
            // set one; a readable one is written in the game's own form.
            if (!ReadNumber(Value(*line)) && owned.Get() == defaultKeys[k].Get()) continue;
            if (Value(*line) == value) continue;
            line->text.replace(line->valueBegin, line->valueEnd - line->valueBegin, value);
            line->valueEnd = line->valueBegin + value.size();
            continue;
        }
        // A missing key goes after the last key line of its section; a missing section at the end.
        Line added;
        added.text = std::string(owned.key) + "=" + value;
        added.ending = ending;
        added.section = file.SectionNumber(Lower(owned.section));
        added.isKey = true;
        added.valueBegin = added.text.size() - value.size();
        added.valueEnd = added.text.size();
        size_t at = lines.size();
        bool haveSection = false;
        for (size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].section != added.section) continue;
            haveSection = true;
            if (lines[i].isSection || lines[i].isKey) at = i + 1;
        }
        if (!haveSection) {
            Line blank, head;
            blank.ending = head.ending = ending;
            head.text = "[" + std::string(owned.section) + "]";
            head.section = added.section;
            head.isSection = true;
            if (!Trim(lines.back().text).empty()) lines.push_back(blank);
            lines.push_back(head);
            at = lines.size();
        }
        lines.insert(lines.begin() + long(at), std::move(added));
        for (size_t& i : found)
            if (i != kNotFound && i >= at) ++i;
    }
    std::string out;
    out.reserve(oldText.size() + 1024);
    for (size_t i = 0; i < lines.size(); ++i) {
        out += lines[i].text;
        // A last line without its line end gets one only when lines now follow it.
        out += lines[i].ending.empty() && i + 1 < lines.size() ? ending : lines[i].ending;
    }
    return out;
}

std::optional<std::string> IniValue(const std::string& iniText, std::string_view section,
                                    std::string_view key) {
    const Lines file = SplitLines(iniText);
    const std::string wantSection = Lower(section), wantKey = Lower(key);
    for (const Line& line : file.lines)
        if (line.isKey && line.key == wantKey && file.sections[line.section] == wantSection)
            return std::string(Value(line));
    return std::nullopt;
}

std::string SetIniValue(const std::string& iniText, std::string_view section, std::string_view key,
                        const std::string& value) {
    Lines file = SplitLines(iniText);
    std::vector<Line>& lines = file.lines;
    const std::string wantSection = Lower(section), wantKey = Lower(key);
    std::string ending = "\n";
    for (const Line& line : lines)
        if (!line.ending.empty()) {
            ending = line.ending;
            break;
        }
    std::optional<size_t> found, after;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (file.sections[lines[i].section] != wantSection) continue;
        if (lines[i].isSection || lines[i].isKey) after = i + 1;
        if (!found && lines[i].isKey && lines[i].key == wantKey) found = i;
    }
    if (found) {
        Line& line = lines[*found];
        line.text.replace(line.valueBegin, line.valueEnd - line.valueBegin, value);
    } else {
        Line added;
        added.text = std::string(key) + "=" + value;
        added.ending = ending;
        if (!after) {
            Line blank, head;
            blank.ending = head.ending = ending;
            head.text = "[" + std::string(section) + "]";
            if (!lines.empty() && !Trim(lines.back().text).empty()) lines.push_back(blank);
            lines.push_back(head);
            after = lines.size();
        }
        lines.insert(lines.begin() + long(*after), std::move(added));
    }
    std::string out;
    for (size_t i = 0; i < lines.size(); ++i) {
        out += lines[i].text;
        out += lines[i].ending.empty() && i + 1 < lines.size() ? ending : lines[i].ending;
    }
    return out;
}

void DeriveSettings(Game& game) {
    game.Settings.moreTanks = game.Settings.gameDifficulty >= 1;
    game.StarPeriod = game.Settings.gameDifficulty >= 2 ? 16 : 32;
}

void ReadIni(Game& game) {
    // Settings files are small; anything past the first megabyte is not ours.
    auto data = game.io.files->Read(kSettingsFile, 0, size_t(kMaxSettingsBytes));
    if (data) ParseSettings(std::string(data->begin(), data->end()), game.Settings);
    DeriveSettings(game);
    if (game.io.input) game.io.input->SetForceFeedback(game.Settings.forceFeedback);
}

void SaveIni(Game& game) {
    SaveIni(game, *game.io.files);
}

void SaveIni(const Game& game, FileSystem& files) {
    const std::string failed =
        "Settings could not be saved to \"" + files.Where(kSettingsFile) + "\"";
    // The file is read again: every line the game does not own is written back as it is now,
    // also what another copy of the game saved meanwhile, which waits until this one is done.
    const auto lock = files.Lock(kSettingsFile);
    std::string old;
    if (auto size = files.Size(kSettingsFile)) {
        if (*size > kMaxSettingsBytes) throw FileError(failed + ": the file is too large");
        auto data = files.Read(kSettingsFile, 0, size_t(*size));
        if (!data) throw FileError(failed + ": it cannot be read");
        old.assign(data->begin(), data->end());
    }
    const std::string text = MergeSettings(old, game.Settings);
    if (text == old) return;  // nothing to write, and a read-only file is no trouble
    if (!files.Replace(kSettingsFile, std::vector<uint8_t>(text.begin(), text.end())))
        throw FileError(failed);
}

}  // namespace kdv
