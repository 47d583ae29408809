#pragma once
// What the main window drives: one play session at a time. The player's own game (LocalGame) is
// always there; a replay being watched (ReplayViewer) or a network game (NetworkGame) takes its
// place for a while, and the player's game waits meanwhile. On every frame-timer tick the window
// calls Tick() of the session in front, then reads Title() and Overlay() and shows them (the
// overlay is text drawn over the scaled picture, never into the game's screen). A key that goes
// down reaches the input devices when KeysToDevices() says so, and then KeyDown(), always between
// ticks. Once Ended() is true, or when the player chooses something else (Leave() first), the
// window calls Finish() once, shows the text it returns, destroys the session and gives the
// picture back to the player's game. A session never touches the window itself: what it needs
// from it is SessionHost.
#include <functional>
#include <string>
#include <vector>

namespace app {

class SessionHost {
  public:
    virtual ~SessionHost() = default;
    // Runs now, or, when asked from inside a tick, as soon as the tick has returned: a nested
    // event loop (a modal dialog) must never run inside a tick.
    virtual void BetweenTicks(std::function<void()> action) = 0;
    // Asks the player a yes-or-no question in a message box; true for yes. Call it between
    // ticks (from an action given to BetweenTicks).
    virtual bool Confirm(const std::string& question) = 0;
    // Sends the player's own game back to the title.
    virtual void BackToTitle() = 0;
    // Notes a failure for the program's exit status (the first one stays).
    virtual void NoteExitCode(int code) = 0;
    // Closes the window, which ends the program; from then on Closing() is true.
    virtual void CloseWindow() = 0;
    virtual bool Closing() const = 0;
};

class PlaySession {
  public:
    virtual ~PlaySession() = default;
    virtual void Tick() = 0;
    // Whether the keys pressed in the window reach the input devices (the game reads them there).
    virtual bool KeysToDevices() const = 0;
    // A key went down: its virtual-key code, and whether Alt is held.
    virtual void KeyDown(int code, bool alt) = 0;
    virtual std::string Title() const = 0;
    // Lines to show over the picture, top first; none for a plain picture.
    virtual std::vector<std::string> Overlay() const = 0;
    virtual bool Ended() const = 0;
    // The player leaves before the end.
    virtual void Leave() {}
    // What to ask before the player leaves it for something else; empty: nothing to ask.
    virtual std::string LeaveQuestion() const { return {}; }
    // The player's own settings and stage must stay as they are while it runs (it plays on
    // them with someone else): Options and Select Level are not offered meanwhile.
    virtual bool HoldsSettings() const { return false; }
    // File -> Pause while it is in front; false when it has no pause of its own.
    virtual bool Pause() { return false; }
    // Saves what must be kept and returns what to tell the player (empty: nothing).
    virtual std::string Finish() { return {}; }
};

}  // namespace app
