#pragma once
// What the options, key-capture and level selection dialogs do, without their widgets: the Qt
// dialogs and the script verbs of the runner both go through these, so a script drives the
// game exactly as a player clicking the dialogs would.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "core/controls/settings.h"

namespace kdv {

struct Game;

// The options dialog's working copy; the live settings change only on Ok.
struct OptionsEditState {
    bool open = false;
    Settings working;
};

// The rows of the binding table as the options dialog shows them.
enum BindingRowId { rowKeys1 = 0, rowJoystick1, rowKeys2, rowJoystick2 };
BindingRow& RowOf(Settings& settings, BindingRowId row);
inline bool IsJoystickRow(BindingRowId row) {
    return row == rowJoystick1 || row == rowJoystick2;
}

// Track bar positions for the values of a settings record. A file may hold anything: a volume
// of 53 shows as 10 (its multiple of 5 below), values outside a bar show at its nearest end.
// Showing the dialog does not touch the working copy; only moving a bar does.
int SoundBarPosition(int32_t soundVolume);        // 0..20
int GameDiffBarPosition(int32_t gameDifficulty);  // 0..3

void OptionFormShow(Game& game);  // working copy := live settings
void SoundBoxClick(Game& game, bool ticked);
void SoundBarChange(Game& game, int position);
void GameDiffBarChange(Game& game, int position);
void FeedBackCheckClick(Game& game, bool ticked);
// A binding button's capture returned a value.
void SetBinding(Game& game, BindingRowId row, int action, int32_t code);
void DefaultsClick(Game& game);  // Button2: the defaults, Pause bindings kept
void OptionOkClick(Game& game);  // copy back, derive
void OptionCancelClick(Game& game);

// "Section/Key value" as kordavel.ini names it, applied through the handler of the control that
// edits it. Returns an error text when the key is not one the dialog edits, or the value is
// not one the control can give.
std::optional<std::string> SetOptionByKey(Game& game, const std::string& sectionKey, long value);

// What the capture dialog returns: in keyboard mode the lowest key code 0..123 that was down
// when a key went up (0 if none), in joystick mode the lowest joystick state on (36 if none).
int CaptureKey(const std::array<bool, 256>& keysDown);

// The level selection dialog: the spinner runs 1..LevelCount.
struct SelectLevelView {
    int minimum = 1, maximum = 0, position = 1;
    int gameItem = 0;
    bool okEnabled = false;  // false when the level file has no stage to start
};
SelectLevelView SelectFormShow(Game& game);
// Ok: starts the stage in the mode (0 one player, 1 two players, 2 duel). Returns an error
// text, and changes nothing, when there is no such stage.
std::optional<std::string> SelectOkClick(Game& game, int stage, int gameItem);

}  // namespace kdv
