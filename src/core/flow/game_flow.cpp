#include "core/flow/game_flow.h"

#include <string>

#include "core/controls/player_controls.h"
#include "core/field/bonus.h"
#include "core/field/enemy.h"
#include "core/field/explosion.h"
#include "core/field/impact.h"
#include "core/field/map.h"
#include "core/field/player.h"
#include "core/field/reserve.h"
#include "core/flow/editor.h"
#include "core/flow/main_form.h"
#include "core/flow/tally.h"
#include "core/game.h"
#include "core/screen/present.h"
#include "core/sound/sound.h"

namespace kdv {
namespace {

constexpr int32_t kNoKey = 1976;  // a code no key has

bool StartIsDown(const Game& game) {
    return IsBindingDown(game, 1, false, Start) || IsBindingDown(game, 1, true, Start);
}

void TitleIdleTest(Game& game) {
    if (StartIsDown(game))
        StartGame(game);
    else if (GetClock(game) > game.TitleScroll.NextDue)
        StartDemo(game);
}

void RespawnIfDue(Game& game, int player) {
    const PlayerTank& tank = game.Player(player);
    if (tank.alive || tank.explosion.active) return;
    if (player == 1)
        RespawnTank(game, 1, kPlayer1X, kPlayerStartY, 0);
    else
        RespawnTank(game, 2, kPlayer2X, kPlayerStartY, 64);
}

void ResetEnemySlots(Game& game) {
    for (EnemyTank& tank : game.enemies) ResetEnemySlot(tank);
}

void NewGameTanks(Game& game) {
    NewGameTank(game, 1, kPlayer1X, kPlayerStartY, 0);
    NewGameTank(game, 2, kPlayer2X, kPlayerStartY, 64);
}

int32_t LimitFor(const Game& game, int32_t normal, int32_t more) {
    int32_t limit = game.Settings.moreTanks ? more : normal;
    if (game.Settings.gameDifficulty >= 3) limit += 2;
    return limit;
}

}  // namespace

int32_t GetClock(const Game& game) {
    return game.GameClock;
}

int32_t FramesPerSecond(const Game&) {
    return 1000 / kTimerInterval;
}

void TogglePause(Game& game) {
    const uint32_t now = game.io.clock->TickCount();
    if (now >= game.NextPauseToggleTime) {
        game.Paused = !game.Paused;
        game.NextPauseToggleTime = now + 500;
    }
}

int32_t TakeLastKey(Game& game) {
    const int32_t key = game.LastKeyDown;
    game.LastKeyDown = kNoKey;
    return key;
}

void GameStep(Game& game) {
    if (!game.Paused) ++game.GameClock;
    switch (game.GameState) {
        case gsPlay:
            if (game.GameMode == gmOnePlayer)
                PlayStepOnePlayer(game);
            else if (game.GameMode == gmTwoPlayers || game.GameMode == gmDuel)
                PlayStepTwoPlayers(game);
            break;
        case gsTitleScroll:
            TitleFrame(game);
            if (game.TitleScroll.Row <= game.TitleScroll.TargetRow) {
                game.GameState = gsTitleIdle;
                game.TitleScroll.NextDue = GetClock(game) + 5 * FramesPerSecond(game);
            }
            break;
        case gsStageIntro:
            StageIntroFrame(game);
            break;
        case gsTallyOnePlayer:
            TallyFrame(game, false);
            break;
        case gsTallyTwoPlayers:
            TallyFrame(game, true);
            break;
        case gsDemo:
            DemoFrame(game);
            break;
        case gsTitleIdle:
            TitleFrame(game);
            TitleIdleTest(game);
            break;
        case gsLevelEditor:
            EditorFrame(game);
            break;
        default:
            break;
    }
}

void EnterTitle(Game& game) {
    game.NewGamePending = true;
    game.GameState = gsTitleScroll;
    FillScreen(game.BackScreen, 0);
    game.BackScreen.SetSize(320, 200);
    game.FrameScreen.SetSize(320, 200);
    LoadTitlePicture(game);
    game.TitleScroll.NextDue = GetClock(game) + 2;
    game.TitleScroll.TargetRow = 50;
    game.TitleScroll.Row = 100;
}

bool InGame(const Game& game) {
    if (game.GameMode == gmDemo) return false;
    switch (game.GameState) {
        case gsPlay:
        case gsStageIntro:
        case gsTallyOnePlayer:
        case gsTallyTwoPlayers:
            return true;
        default:
            return false;
    }
}

void BackToTitle(Game& game) {
    if (game.GameMode == gmDemo) game.GameMode = game.SavedMode;
    game.Paused = false;
    EnterTitle(game);
}

void TitleFrame(Game& game) {
    TitleScrollState& scroll = game.TitleScroll;
    BlitPicture(game.BackScreen, 60, scroll.Row, game.TitlePicture, kTitleMaxPixels);
    if (game.GameState == gsTitleScroll && GetClock(game) >= scroll.NextDue) {
        scroll.NextDue = GetClock(game) + 2;
        if (scroll.Row > scroll.TargetRow) --scroll.Row;
    }
    CopyToFrame(game.FrameScreen, game.BackScreen);
    FillScreen(game.BackScreen, 0);
    PresentFrame(game);
}

void StartGame(Game& game) {
    game.GameState = gsStageIntro;
    game.SelectLevel.position = game.StageNumber;
    PlaySound(game, 100, sfxStageStart);
}

void StageIntroFrame(Game& game) {
    ClearFrame(game.FrameScreen);
    DrawText(game, game.GameFont, 128, 100, 15, "STAGE " + std::to_string(game.StageNumber));
    PresentFrame(game);
    if (StartIsDown(game)) StartStage(game);
}

void StartStage(Game& game) {
    if (!game.EnemyReserve.StageWon) game.NewGamePending = true;
    if (game.NewGamePending) {
        game.NewGamePending = false;
        NewGameTanks(game);
    }
    switch (game.GameMode) {
        case gmOnePlayer:
            game.EnemyLimit = LimitFor(game, 4, 6);
            SetUpStage(game, false);
            break;
        case gmTwoPlayers:
        case gmDuel:
            game.EnemyLimit = LimitFor(game, 6, 8);
            SetUpStage(game, true);
            break;
        default:
            break;
    }
    game.GameState = gsPlay;
}

void SetUpStage(Game& game, bool twoPlayers) {
    LoadStage(game, uint16_t(game.StageNumber));
    BuildBackground(game);
    ResetEnemySlots(game);
    StageTank(game, 1, kPlayer1X, kPlayerStartY, 0);
    if (twoPlayers) StageTank(game, 2, kPlayer2X, kPlayerStartY, 64);
    ClearBonusAndFortification(game);
    game.GameOverCaption.base.active = false;
    game.GameOverCaption.player1.active = false;
    if (twoPlayers) game.GameOverCaption.player2.active = false;
    StartReserve(game);
    game.StageEnded = false;
}

void WorldUpdate(Game& game, bool twoPlayers) {
    const int players = twoPlayers ? 2 : 1;
    CopyToFrame(game.FrameScreen, game.BackScreen);
    FortificationStep(game);
    for (int p = 1; p <= players; ++p) DrawPlayerTank(game, game.Player(p));
    for (EnemyTank& tank : game.enemies) DrawEnemy(game, tank);
    for (int p = 1; p <= players; ++p) PlayerTick(game, p);
    for (EnemyTank& tank : game.enemies) EnemyTick(game, tank);
    for (int p = 1; p <= players; ++p) DrawPlayerBullet(game, game.Player(p).bullet);
    for (EnemyTank& tank : game.enemies) DrawBullet(game, tank.bullet);
    for (int p = 1; p <= players; ++p) PlayerBulletTick(game, p);
    for (EnemyTank& tank : game.enemies) BulletTick(game, tank.bullet);
    BonusStep(game);
    for (int p = 1; p <= players; ++p) DrawShield(game, game.Player(p));
    for (int p = 1; p <= players; ++p) ExplosionStep(game, game.Player(p).explosion);
    for (EnemyTank& tank : game.enemies) ExplosionStep(game, tank.explosion);
    DrawTopLayer(game);
    for (int p = 1; p <= players; ++p) PlayerCaptionStep(game, p);
    BaseCaptionStep(game);
    TileAnimationStep(game);
    DrawPanel(game, players);
    PresentFrame(game);
}

void PlayStepOnePlayer(Game& game) {
    ReadPlayerControls(game, 1);
    if (IsBindingDown(game, 1, false, Pause)) TogglePause(game);
    WorldUpdate(game, false);
    ReserveStep(game);
    RespawnIfDue(game, 1);
    if (game.StageEnded) {
        StartTally(game, false);
        return;
    }
    ApplyGameOverRules(game, false);
}

void PlayStepTwoPlayers(Game& game) {
    ReadPlayerControls(game, 1);
    ReadPlayerControls(game, 2);
    if (IsBindingDown(game, 1, false, Pause)) TogglePause(game);
    WorldUpdate(game, true);
    ReserveStep(game);
    RespawnIfDue(game, 1);
    RespawnIfDue(game, 2);
    if (game.StageEnded) {
        StartTally(game, true);
        return;
    }
    ApplyGameOverRules(game, true);
}

void StartDemo(Game& game) {
    game.GameState = gsDemo;
    // Starting the demo from the demo must not lose the mode to return to.
    if (game.GameMode != gmDemo) game.SavedMode = game.GameMode;
    game.GameMode = gmDemo;
    game.EnemyLimit = 6;
    LoadStage(game, 0);
    BuildBackground(game);
    LoadTitlePicture(game);
    BlitPicture(game.BackScreen, 24, 52, game.TitlePicture, kTitleMaxPixels);
    ResetEnemySlots(game);
    NewGameTanks(game);
    ClearBonusAndFortification(game);
    ClearCaptions(game);
    StartReserve(game);
    game.StageEnded = false;
}

void DemoFrame(Game& game) {
    const int32_t key = TakeLastKey(game);
    if (key == 27 || StartIsDown(game)) {
        game.GameMode = game.SavedMode;
        EnterTitle(game);
        return;
    }
    WorldUpdate(game, true);
    ReserveStep(game);
    RespawnIfDue(game, 1);
    RespawnIfDue(game, 2);
    if (game.StageEnded) {
        game.GameMode = game.SavedMode;
        EnterTitle(game);
        return;
    }
    ApplyGameOverRules(game, true);
}

}  // namespace kdv
