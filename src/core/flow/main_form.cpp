#include "core/flow/main_form.h"

#include <exception>
#include <string>

#include "core/controls/settings.h"
#include "core/flow/editor.h"
#include "core/flow/game_flow.h"
#include "core/flow/tally.h"
#include "core/game.h"
#include "core/screen/font.h"
#include "core/screen/graphics_pack.h"
#include "core/sound/sound.h"

namespace kdv {
namespace {

// Errors escaping a tick, a menu command or a window key end the program the same way:
// full screen is left first, so that the desktop is back when the message is read.
template <typename Action>
void Guarded(Game& game, Action action) {
    try {
        action();
    } catch (const std::exception& error) {
        if (game.io.window->IsFullScreen()) game.io.window->ToggleFullScreen();
        game.io.window->Fail(error.what());
    }
}

void StartFromMenu(Game& game, uint8_t mode) {
    game.StageNumber = 1;
    game.GameMode = mode;
    game.NewGamePending = true;
    StartGame(game);
}

}  // namespace

void FormCreate(Game& game) {
    game.NextPauseToggleTime = game.io.clock->TickCount();
    ReadIni(game);
    game.io.window->SetPaletteChecked(game.Settings.paletteType);
    game.WorkBitmap.rgb565 = game.Settings.paletteType;
    game.WorkBitmap.Resize(320, 200);
    game.LevelCount = CountLevels(game);
    if (game.Settings.smallScreen)
        SetMode(game, 320, 200);
    else
        SetMode(game, 640, 400);
}

bool FormActivate(Game& game) {
    Window& window = *game.io.window;
    window.SetLanguageChecked(game.Settings.language);

    bool ok = true;
    const uint16_t code = LoadAssets(game);
    if (code != 0) {
        window.ShowMessage(AssetErrorText(code) + "!");
        ok = false;
    }
    game.GameFont =
        LoadFont(game, kFontFile, game.GameFontBuffer.data(), game.GameFontBuffer.size());
    if (game.GameFont == 0) {
        window.ShowMessage("File \"data\\tank.fnt\" not found!");
        ok = false;
    }
    game.GraphicsTable[0].data = game.SpriteSheet.data();
    game.GraphicsTable[0].size = game.SpriteSheet.size();
    BuildPixelTable(game.GamePalette, game.Settings.paletteType, game.PixelTable);
    if (!ok) {
        // Both messages have been shown; the title would only fail on the missing files.
        window.Close();
        return false;
    }

    try {
        if (!game.io.sound) throw std::runtime_error("no sound device");
        game.io.sound->Initialise();
    } catch (const std::exception&) {
        // Silent for this run only: a missing device is not the player's choice to save.
        game.SoundUnavailable = true;
    }
    if (!game.SoundUnavailable) LoadSoundBank(game);
    game.Activated = true;
    window.SetTimerEnabled(true);
    EnterTitle(game);
    return true;
}

void DXTimerTimer(Game& game) {
    Guarded(game, [&] {
        if (game.io.input) game.io.input->Update();
        GameStep(game);
    });
    game.FrameScreen.EndTick();
}

void FormKeyDown(Game& game, int key, bool altHeld) {
    game.LastKeyDown = key;
    if (!altHeld) return;
    Guarded(game, [&] {
        if (key == 13)
            FullScreenToggle(game);
        else if (key == '1')
            SetMode(game, 320, 200);
        else if (key == '2')
            SetMode(game, 640, 400);
    });
}

void FormClose(Game& game) {
    PlaySound(game, 100, sfxExit);
    if (game.io.window->IsFullScreen()) game.io.window->ToggleFullScreen();
    // After a failed start-up nothing was played or set: a wrong folder gets no settings file.
    if (game.Activated) {
        try {
            SaveIni(game);
        } catch (const std::exception& error) {
            ++game.FailedSaves;
            game.io.window->ShowMessage(error.what());
        }
    }
    try {
        if (game.io.sound) game.io.sound->Finalise();
    } catch (const std::exception&) {
    }
}

void SetMode(Game& game, int width, int height) {
    game.Settings.smallScreen = width == 320;
    game.io.window->ApplyMode(width, height, game.Settings.fullScreen);
    game.WorkBitmap.Resize(width, height);
    game.presentCache.valid = false;
}

void FullScreenToggle(Game& game) {
    game.io.window->ToggleFullScreen();
    game.Settings.fullScreen = game.io.window->IsFullScreen();
}

void PaletteTypeClick(Game& game) {
    game.Settings.paletteType = !game.Settings.paletteType;
    game.io.window->SetPaletteChecked(game.Settings.paletteType);
    BuildPixelTable(game.GamePalette, game.Settings.paletteType, game.PixelTable);
    // The bitmap follows at once, so the colours never disagree with the table.
    game.WorkBitmap.rgb565 = game.Settings.paletteType;
}

void UpdateLanguage(Game& game, int language) {
    game.Settings.language = language;
    game.io.window->SetLanguageChecked(language);
}

namespace {

bool RunMenuItem(Game& game, std::string_view name) {
    Window& window = *game.io.window;
    if (name == "MDemo") {
        StartDemo(game);
    } else if (name == "MStart1Player") {
        StartFromMenu(game, gmOnePlayer);
    } else if (name == "MStart2Player") {
        StartFromMenu(game, gmTwoPlayers);
    } else if (name == "MStartDuel") {
        StartFromMenu(game, gmDuel);
    } else if (name == "MOptions") {
        if (window.IsFullScreen()) return true;
        window.ShowOptions();
        if (game.io.input) game.io.input->SetForceFeedback(game.Settings.forceFeedback);
    } else if (name == "MSelectLevel") {
        window.ShowSelectLevel();
    } else if (name == "MLevelEditor") {
        StartEditor(game);
    } else if (name == "PauseOnOffP1") {
        TogglePause(game);
    } else if (name == "PaletteType") {
        PaletteTypeClick(game);
    } else if (name == "MLangEnglish") {
        UpdateLanguage(game, 0);
    } else if (name == "MLangRussian") {
        UpdateLanguage(game, 1);
    } else if (name == "N320x200Alt11") {
        SetMode(game, 320, 200);
    } else if (name == "N640x400Alt21") {
        SetMode(game, 640, 400);
    } else if (name == "MFullWin") {
        FullScreenToggle(game);
    } else if (name == "MExit") {
        window.Close();
    } else if (name == "MAbout") {
        if (!window.IsFullScreen()) window.ShowAbout();
    } else {
        return false;
    }
    return true;
}

}  // namespace

bool ClickMenu(Game& game, std::string_view name) {
    bool known = true;  // an item that throws was found
    Guarded(game, [&] { known = RunMenuItem(game, name); });
    return known;
}

}  // namespace kdv
