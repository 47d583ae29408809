#pragma once
// What the player chose for network games: kept in the settings file in a section of its own
// ([Network], which older files simply lack). None of it changes play: it stays out of the
// game's settings, its state hash and its replays.
#include <cstdint>
#include <string>

namespace kdv {
class FileSystem;
}

namespace net {

constexpr uint16_t kDefaultPort = 7510;
constexpr size_t kMaxNameBytes = 40;

struct Preferences {
    bool openRouter = true;  // ask the router to forward the port when hosting
    bool discovery = true;   // answer, and send, questions for games on the local network
    uint16_t port = kDefaultPort;
    std::string name;  // shown to players on the network; empty: the machine's name
};

Preferences ParsePreferences(const std::string& iniText);
// The settings file's text with the preferences in it, every other line kept.
std::string MergePreferences(const std::string& iniText, const Preferences& p);
Preferences ReadPreferences(kdv::FileSystem& files);
// Writes them into the settings file at once; false when it cannot be written.
bool SavePreferences(kdv::FileSystem& files, const Preferences& p);
// The name other players see: the chosen one, else the machine's, cut to a reasonable length.
std::string ShownName(const Preferences& p);

}  // namespace net
