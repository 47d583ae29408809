#pragma once
// What the page's frame ticks and keys drive: the player's own game (LocalGame), or a replay
// being watched (ReplayViewer) in its place while the player's game waits, as in the desktop
// window. page.js calls the exported functions; web_main.cpp hands them to the session in front.
#include <cstdio>
#include <string>

#include "replay/state_hash.h"

namespace web {

class PlaySession {
  public:
    virtual ~PlaySession() = default;
    // One tick of the frame timer.
    virtual void Tick() = 0;
    // Whether the keys pressed in the page reach the input device (the game reads them there).
    virtual bool KeysToDevices() const = 0;
    // A key went down: its virtual-key code, and whether Alt is held.
    virtual void KeyDown(int code, bool alt) = 0;
    // The session is over and the player's game takes the picture back.
    virtual bool Ended() const = 0;
};

// A game's state as the desktop's --verify prints it.
inline std::string HashLine(const kdv::Game& game, long ticks) {
    char line[64];
    std::snprintf(line, sizeof line, "ticks=%ld hash=%016llx", ticks,
                  static_cast<unsigned long long>(replay::StateHash(game, ticks)));
    return line;
}

}  // namespace web
