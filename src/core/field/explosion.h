#pragma once
// Tank explosions, the fall of the base and the "GAME OVER" captions with the game-over rules.
#include <cstdint>

namespace kdv {

struct Game;
struct PlayerTank;

struct Explosion {
    int32_t nextFrameTick = 0;
    int32_t framePeriod = 0;
    uint16_t x = 0, y = 0;
    uint8_t framesLeft = 0;
    bool active = false;
};

struct GameOverCaption {
    int32_t nextMoveTick = 0;
    int32_t movePeriod = 0;
    int32_t endTick = 0;  // base caption only
    int32_t length = 0;   // base caption only
    uint16_t x = 0, y = 0;
    bool active = false;
};

struct GameOverCaptions {
    GameOverCaption base, player1, player2;
};

void StartExplosion(Game& game, Explosion& explosion, int x, int y);
void ExplosionStep(Game& game, Explosion& explosion);

// The base is hit (or the last player is out): starts the base caption and ends the game.
void BaseFalls(Game& game);
void StartPlayerCaption(Game& game, int player);
void BaseCaptionStep(Game& game);
void PlayerCaptionStep(Game& game, int player);
// Applied by every play step after the world update.
void ApplyGameOverRules(Game& game, bool twoPlayers);
// Stage start: all three captions off.
void ClearCaptions(Game& game);

}  // namespace kdv
