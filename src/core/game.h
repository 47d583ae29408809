#pragma once
// The whole state of one game: every record of the screens, the flow and the field. There are
// no globals; a test or the headless runner can make as many games as it likes.
#include <array>
#include <cstdint>
#include <memory>

#include "core/controls/settings.h"
#include "core/dialogs/dialogs.h"
#include "core/field/bonus.h"
#include "core/field/enemy.h"
#include "core/field/explosion.h"
#include "core/field/map.h"
#include "core/field/player.h"
#include "core/field/reserve.h"
#include "core/flow/editor.h"
#include "core/flow/game_state.h"
#include "core/flow/tally.h"
#include "core/platform/services.h"
#include "core/screen/font.h"
#include "core/screen/graphics_pack.h"
#include "core/screen/present.h"
#include "core/screen/screen.h"
#include "core/sound/sound.h"

namespace kdv {

struct PlayCounters {
    uint32_t baseShot = 0;                             // games lost to a bullet in the base
    uint32_t playerShotsStopped = 0;                   // players' bullets that met something
    uint32_t playerShotsShort = 0;                     // ... of them within 8 pixels of the muzzle
    std::array<uint16_t, 2> shotFromX{}, shotFromY{};  // launch points, by player
};

struct Game {
    Game() = default;
    Game(const Game&) = delete;  // the graphics table points into the game's own buffers
    // Takes over another game's whole state but keeps this game's services; the graphics table
    // is pointed into this game's own buffers. Nothing is allocated, so a caller that starts
    // many short games (the fuzz targets) can reset one game instead of making a new one.
    void CopyStateFrom(const Game& other);

    Services io;
    uint32_t RandSeed = 0;

    // Screens.
    ScreenBuffer BackScreen;
    ScreenBuffer TitlePicture;
    ScreenBuffer FrameScreen;
    Palette GamePalette{};
    kdv::PixelTable PixelTable{};
    std::array<uint8_t, kSpriteSheetBytes> SpriteSheet{};
    std::array<SpriteInk, kSpriteCount> spriteInk{};  // of SpriteSheet, by NoteSpriteSheet
    std::array<GraphicsEntry, kMaxFonts + 1> GraphicsTable{};
    uint16_t FontCount = 0;
    uint16_t GameFont = 0;
    std::array<uint8_t, kFontBufferBytes> GameFontBuffer{};
    kdv::WorkBitmap WorkBitmap;
    uint8_t PresentToggle = 0;
    PresentCache presentCache;

    // Main window.
    uint32_t NextPauseToggleTime = 0;
    int32_t LastKeyDown = 0;
    bool Activated = false;  // start-up found its data files; only then are settings saved
    kdv::Settings Settings;
    SelectLevelState SelectLevel;
    OptionsEditState OptionsEdit;
    // No sound device or bank this run: silent, but the player's soundEnable stays as chosen.
    bool SoundUnavailable = false;
    // Saves of the settings or of an edited level that failed (the player was told); a run
    // of the program that lost one does not end as a success.
    int32_t FailedSaves = 0;

    // Flow.
    uint8_t GameState = gsTitleScroll;
    int32_t GameClock = 0;
    bool Paused = false;
    uint8_t GameMode = gmOnePlayer;
    uint8_t SavedMode = 0;
    int32_t StageNumber = 1;
    int32_t LevelCount = 0;
    bool NewGamePending = true;
    int32_t EnemyLimit = 4;
    TitleScrollState TitleScroll;
    bool StageEnded = false;
    int32_t StarPeriod = 32;

    // Field.
    kdv::MapGrid MapGrid{};
    kdv::EnemyLineup EnemyLineup{};
    std::array<PlayerTank, 2> players{};
    std::array<EnemyTank, kEnemySlots> enemies{};
    kdv::Bonus Bonus;
    kdv::BaseFortification BaseFortification;
    GameOverCaptions GameOverCaption;
    kdv::EnemyReserve EnemyReserve;
    kdv::TileAnimation TileAnimation;

    // Screens between stages and the editor.
    TallyState Tally;
    EditorState Editor;

    // How often each effect has been asked for, whether or not sound is on.
    std::array<uint32_t, kSoundEffects> soundsPlayed{};
    // Figures of play that no sound tells apart; kept for the runner's statistics only.
    PlayCounters counters;
    // Lets the autopilot drive player 1 outside the demonstration: the runner's stage curve
    // measures the stages with it. Never set by the game itself.
    bool autopilotDrivesPlayer1 = false;

    PlayerTank& Player(int n) { return players[size_t(n - 1)]; }
    const PlayerTank& Player(int n) const { return players[size_t(n - 1)]; }
    EnemyTank& Enemy(int slot) { return enemies[size_t(slot - 1)]; }
    const EnemyTank& Enemy(int slot) const { return enemies[size_t(slot - 1)]; }

  private:
    Game& operator=(const Game&) = default;  // only through CopyStateFrom
};

// A game on the heap (it is a few hundred kilobytes), wired to the given services.
std::unique_ptr<Game> MakeGame(const Services& services);

}  // namespace kdv
