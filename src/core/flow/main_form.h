#pragma once
// The main window's logic without its widgets: start-up and shut-down in their fixed order, the
// frame timer's tick, the window's key handler and the menu commands. The Qt window and the
// headless runner both drive the game through these.
#include <string_view>

namespace kdv {

struct Game;

constexpr int kTimerInterval = 13;  // milliseconds

// The main window is created: settings, bitmap, display mode.
void FormCreate(Game& game);
// The first activation: language, data files, pixel table, sound, timer, title. Returns false
// when a data file is missing (the message has been shown and the window asked to close).
bool FormActivate(Game& game);
// One tick of the frame timer: poll the input devices, run one game step.
void DXTimerTimer(Game& game);
// A key went down in the main window; Alt+Enter, Alt+1 and Alt+2 switch the display.
void FormKeyDown(Game& game, int key, bool altHeld);
// The main window closes: exit sound, leave full screen, save settings, finalise sound.
void FormClose(Game& game);

void SetMode(Game& game, int width, int height);
void FullScreenToggle(Game& game);  // Alt+Enter and the full-screen item
void PaletteTypeClick(Game& game);
void UpdateLanguage(Game& game, int language);

// Runs the click handler of a menu item by its component name ("MDemo", "MExit", ...).
// False when there is no such item.
bool ClickMenu(Game& game, std::string_view name);

}  // namespace kdv
