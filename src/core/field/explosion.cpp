#include "core/field/explosion.h"

#include "core/controls/player_controls.h"
#include "core/field/player.h"
#include "core/flow/game_flow.h"
#include "core/game.h"
#include "core/screen/font.h"
#include "core/screen/graphics_pack.h"
#include "core/sound/sound.h"

namespace kdv {
namespace {

constexpr int32_t kExplosionFramePeriod = 12;
constexpr uint8_t kExplosionFrames = 6;
constexpr int kLastExplosionSprite = 94;  // sprite 94 - framesLeft: 88 first, 93 last

constexpr uint8_t kCaptionColour = 12;
constexpr const char* kCaptionText = "GAME OVER";
constexpr uint16_t kCaptionStartY = 188;
constexpr uint16_t kBaseCaptionX = 86;
constexpr uint16_t kBaseCaptionTopY = 90;
constexpr uint16_t kPlayer1CaptionX = 16, kPlayer1CaptionLimit = 26;
constexpr uint16_t kPlayer2CaptionX = 152, kPlayer2CaptionLimit = 144;
constexpr int32_t kPlayerCaptionPeriod = 4;

GameOverCaption& PlayerCaption(Game& game, int player) {
    return player == 1 ? game.GameOverCaption.player1 : game.GameOverCaption.player2;
}

void DrawCaption(Game& game, const GameOverCaption& caption) {
    DrawText(game, game.GameFont, caption.x, caption.y, kCaptionColour, kCaptionText);
}

}  // namespace

void StartExplosion(Game& game, Explosion& explosion, int x, int y) {
    explosion.x = uint16_t(x);
    explosion.y = uint16_t(y);
    explosion.active = true;
    explosion.framesLeft = kExplosionFrames;
    explosion.framePeriod = kExplosionFramePeriod;
    explosion.nextFrameTick = GetClock(game) + kExplosionFramePeriod;
    ExplosionJolt(game, x, y);
}

void ExplosionStep(Game& game, Explosion& explosion) {
    if (!explosion.active) return;
    DrawSprite(game, explosion.x, explosion.y, kLastExplosionSprite - explosion.framesLeft,
               game.FrameScreen, 0);
    const int32_t now = GetClock(game);
    if (now >= explosion.nextFrameTick) {
        explosion.nextFrameTick = now + explosion.framePeriod;
        if (explosion.framesLeft > 0) --explosion.framesLeft;
    }
    if (explosion.framesLeft == 0) explosion.active = false;
}

void BaseFalls(Game& game) {
    GameOverCaption& caption = game.GameOverCaption.base;
    const int32_t now = GetClock(game);
    caption.active = true;
    caption.x = kBaseCaptionX;
    caption.y = kCaptionStartY;
    caption.length = 2 * FramesPerSecond(game);
    caption.endTick = now + caption.length;
    caption.movePeriod = 1;
    caption.nextMoveTick = now + 1;
    LockPlayer(game.Player(1));
    LockPlayer(game.Player(2));
    // A stage whose last computer tank was already gone is lost all the same.
    game.EnemyReserve.StageWon = false;
    PlaySound(game, 100, sfxBaseFalls);
}

void StartPlayerCaption(Game& game, int player) {
    GameOverCaption& caption = PlayerCaption(game, player);
    caption.active = true;
    caption.x = player == 1 ? kPlayer1CaptionX : kPlayer2CaptionX;
    caption.y = kCaptionStartY;
    caption.movePeriod = kPlayerCaptionPeriod;
    caption.nextMoveTick = GetClock(game) + kPlayerCaptionPeriod;
    LockPlayer(game.Player(player));
}

void BaseCaptionStep(Game& game) {
    GameOverCaption& caption = game.GameOverCaption.base;
    if (!caption.active) return;
    DrawCaption(game, caption);
    const int32_t now = GetClock(game);
    if (now >= caption.nextMoveTick) {
        caption.nextMoveTick = now + caption.movePeriod;
        if (caption.y > kBaseCaptionTopY) --caption.y;
    }
    if (now >= caption.endTick) {
        game.StageEnded = true;
        caption.active = false;
    }
}

void PlayerCaptionStep(Game& game, int player) {
    GameOverCaption& caption = PlayerCaption(game, player);
    if (!caption.active) return;
    DrawCaption(game, caption);
    const int32_t now = GetClock(game);
    if (now < caption.nextMoveTick) return;
    caption.nextMoveTick = now + caption.movePeriod;
    if (player == 1 && caption.x < kPlayer1CaptionLimit) ++caption.x;
    if (player == 2 && caption.x > kPlayer2CaptionLimit) --caption.x;
}

void ApplyGameOverRules(Game& game, bool twoPlayers) {
    if (game.StageEnded || game.GameOverCaption.base.active) return;
    const bool player1Out = !game.Player(1).mayRespawn;
    const bool player2Out = !game.Player(2).mayRespawn;
    // Restarted every frame, so a player's caption holds still until the game is over.
    if (player1Out) StartPlayerCaption(game, 1);
    if (player2Out) StartPlayerCaption(game, 2);
    if (twoPlayers ? player1Out && player2Out : player1Out) BaseFalls(game);
}

void ClearCaptions(Game& game) {
    game.GameOverCaption.base.active = false;
    game.GameOverCaption.player1.active = false;
    game.GameOverCaption.player2.active = false;
}

}  // namespace kdv
