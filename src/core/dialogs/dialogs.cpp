#include "core/dialogs/dialogs.h"

#include <algorithm>

#include "core/controls/player_controls.h"
#include "core/flow/game_flow.h"
#include "core/game.h"

namespace kdv {

BindingRow& RowOf(Settings& settings, BindingRowId row) {
    switch (row) {
        case rowKeys1:
            return settings.keys1;
        case rowJoystick1:
            return settings.joystick1;
        case rowKeys2:
            return settings.keys2;
        default:
            return settings.joystick2;
    }
}

int SoundBarPosition(int32_t soundVolume) {
    return std::clamp(soundVolume / 5, 0, 20);
}

int GameDiffBarPosition(int32_t gameDifficulty) {
    return std::clamp(gameDifficulty, 0, 3);
}

void OptionFormShow(Game& game) {
    game.OptionsEdit.working = game.Settings;
    game.OptionsEdit.open = true;
}

void SoundBoxClick(Game& game, bool ticked) {
    game.OptionsEdit.working.soundEnable = ticked;
}

void SoundBarChange(Game& game, int position) {
    game.OptionsEdit.working.soundVolume = std::clamp(position, 0, 20) * 5;
}

void GameDiffBarChange(Game& game, int position) {
    game.OptionsEdit.working.gameDifficulty = std::clamp(position, 0, 3);
}

void FeedBackCheckClick(Game& game, bool ticked) {
    game.OptionsEdit.working.forceFeedback = ticked;
}

void SetBinding(Game& game, BindingRowId row, int action, int32_t code) {
    if (action < 0 || action >= kActions) return;
    RowOf(game.OptionsEdit.working, row)[size_t(action)] = code;
}

void DefaultsClick(Game& game) {
    SetDefaultBindings(game.OptionsEdit.working);
}

void OptionOkClick(Game& game) {
    if (!game.OptionsEdit.open) return;
    // The display flags belong to the window, which may have changed them meanwhile.
    Settings working = game.OptionsEdit.working;
    working.fullScreen = game.Settings.fullScreen;
    working.smallScreen = game.Settings.smallScreen;
    working.paletteType = game.Settings.paletteType;
    working.language = game.Settings.language;
    game.Settings = working;
    DeriveSettings(game);
    game.OptionsEdit.open = false;
}

void OptionCancelClick(Game& game) {
    game.OptionsEdit.open = false;
}

std::optional<std::string> SetOptionByKey(Game& game, const std::string& sectionKey, long value) {
    const size_t slash = sectionKey.find('/');
    const std::string section = sectionKey.substr(0, slash);
    const std::string key = slash == std::string::npos ? "" : sectionKey.substr(slash + 1);
    auto flag = [&](auto handler) -> std::optional<std::string> {
        if (value != 0 && value != 1) return sectionKey + " is 0 or 1";
        handler(game, value == 1);
        return std::nullopt;
    };
    if (section == "Options") {
        if (key == "SoundEnable") return flag(SoundBoxClick);
        if (key == "ForceFeedback") return flag(FeedBackCheckClick);
        if (key == "SoundVolume") {
            if (value < 0 || value > 100 || value % 5 != 0)
                return "the volume bar gives 0..100 in steps of 5, not " + std::to_string(value);
            SoundBarChange(game, int(value / 5));
            return std::nullopt;
        }
        if (key == "GameDifficulty") {
            if (value < 0 || value > 3)
                return "the difficulty bar gives 0..3, not " + std::to_string(value);
            GameDiffBarChange(game, int(value));
            return std::nullopt;
        }
        if (key == "Language" || key == "PaletteType")
            return sectionKey + " is set from the File menu, not the options dialog";
        return "the options dialog has no " + sectionKey;
    }
    static const struct {
        const char* name;
        BindingRowId row;
        int keys;
    } kRows[] = {{"KeysForPlayer1", rowKeys1, 7},
                 {"JoystickForPlayer1", rowJoystick1, 7},
                 {"KeysForPlayer2", rowKeys2, 5},
                 {"JoystickForPlayer2", rowJoystick2, 5}};
    for (const auto& row : kRows) {
        if (section != row.name) continue;
        for (int action = 0; action < row.keys; ++action) {
            if (key != kActionKeys[action]) continue;
            // What the capture dialog can return: a key code 0..123, a joystick state 0..36.
            const long highest = IsJoystickRow(row.row) ? kNoJoystickState : 123;
            if (value < 0 || value > highest)
                return "a capture gives 0.." + std::to_string(highest) + " for " + sectionKey +
                       ", not " + std::to_string(value);
            SetBinding(game, row.row, action, int32_t(value));
            return std::nullopt;
        }
        return "the options dialog has no " + sectionKey;
    }
    return "kordavel.ini has no section \"" + section + "\"";
}

int CaptureKey(const std::array<bool, 256>& keysDown) {
    for (int code = 1; code <= 123; ++code)
        if (keysDown[size_t(code)]) return code;
    return 0;
}

SelectLevelView SelectFormShow(Game& game) {
    SelectLevelView view;
    // The level count is taken as a 16-bit value, as the spinner holds it.
    view.maximum = int(uint16_t(game.LevelCount));
    view.okEnabled = view.maximum >= view.minimum;
    if (view.okEnabled)
        game.SelectLevel.position = std::clamp(game.SelectLevel.position, 1, view.maximum);
    view.position = game.SelectLevel.position;
    view.gameItem = game.SelectLevel.gameItem;
    return view;
}

std::optional<std::string> SelectOkClick(Game& game, int stage, int gameItem) {
    const int count = int(uint16_t(game.LevelCount));
    if (count < 1) return "the level file holds no stage to start";
    if (stage < 1 || stage > count)
        return "stage " + std::to_string(stage) + " is not in the level file (1.." +
               std::to_string(count) + ")";
    if (gameItem < 0 || gameItem > 2) return "the game is 0 one player, 1 two players, 2 duel";
    game.SelectLevel.position = stage;
    game.SelectLevel.gameItem = gameItem;
    game.StageNumber = stage;
    game.GameMode = gameItem == 0 ? gmOnePlayer : gameItem == 1 ? gmTwoPlayers : gmDuel;
    game.NewGamePending = true;
    StartGame(game);
    return std::nullopt;
}

}  // namespace kdv
