#include "core/field/player.h"

#include <algorithm>

#include "core/field/bonus.h"
#include "core/field/enemy.h"
#include "core/field/map.h"
#include "core/flow/game_flow.h"
#include "core/game.h"
#include "core/random.h"
#include "core/screen/graphics_pack.h"
#include "core/sound/sound.h"

namespace kdv {
namespace {

// What the three ways of placing a tank keep from the tank's previous life.
enum class Placing { NewGame, Stage, Respawn };

void Place(Game& game, int player, int x, int y, uint8_t colourOffset, Placing how) {
    PlayerTank& t = game.Player(player);
    if (how != Placing::NewGame && !t.mayRespawn) return;
    const int32_t now = GetClock(game);
    t.x = uint16_t(x);
    t.y = uint16_t(y);
    t.spriteBase = 0;
    t.colourOffset = colourOffset;
    t.alive = t.acceptsCommand = t.trackPhase = t.mayRespawn = true;
    t.blocked = t.autopilotFired = false;
    t.locked = how == Placing::Respawn && game.GameMode == gmDemo;
    t.commandedDirection = dirNone;
    t.facing = dirUp;
    t.stepsLeft = 8;
    switch (how) {
        case Placing::NewGame:
            t.autopilotHasTarget = false;
            t.autopilotTargetKind = 0;
            t.level = 0;
            t.lives = 3;
            t.score = 0;
            t.kills.fill(0);
            break;
        case Placing::Stage:
            t.kills.fill(0);
            break;
        case Placing::Respawn:
            t.autopilotHasTarget = false;
            t.autopilotTargetKind = 0;
            t.level = 0;
            break;
    }
    StartShield(game, t.shield);
    t.stepPeriod = 2;
    t.nextStepTick = now + 2;
    t.explosion.active = false;
    t.bullet.done = true;
    t.bullet.owner = uint8_t(player);
}

void MovementStep(Game& game, PlayerTank& t) {
    t.acceptsCommand = false;
    t.trackPhase = !t.trackPhase;
    bool clear = false;
    switch (t.commandedDirection) {
        case dirUp:
            clear = RowIsClear(game, t.x, t.y - 1);
            break;
        case dirDown:
            clear = RowIsClear(game, t.x, t.y + 16);
            break;
        case dirLeft:
            clear = ColumnIsClear(game, t.x - 1, t.y);
            break;
        case dirRight:
            clear = ColumnIsClear(game, t.x + 16, t.y);
            break;
        default:  // standing
            t.trackPhase = true;
            t.acceptsCommand = true;
            t.commandedDirection = dirNone;
            return;
    }
    if (clear) {
        switch (t.commandedDirection) {
            case dirUp:
                --t.y;
                break;
            case dirDown:
                ++t.y;
                break;
            case dirLeft:
                --t.x;
                break;
            default:
                ++t.x;
                break;
        }
        --t.stepsLeft;
        t.blocked = false;
    } else {
        t.trackPhase = true;
        t.acceptsCommand = true;
        t.commandedDirection = dirNone;
        t.blocked = true;
    }
}

// The autopilot keeps its shots off the base: near the bottom it does not fire along the
// bottom row toward the base, and above the base it fires down only at its target.
void AutopilotFire(Game& game, PlayerTank& t) {
    if (t.y >= 164) {
        if ((t.facing == dirRight && t.x <= 112) || (t.facing == dirLeft && t.x >= 128)) return;
    } else if (t.facing == dirDown && t.x >= 96 && t.x <= 128) {
        const int slot = t.autopilotTargetSlot;
        if (slot < 1 || slot > kEnemySlots) return;
        const EnemyTank& target = game.Enemy(slot);
        if (!(target.y >= t.y && target.x >= t.x - 4 && target.x <= t.x + 8)) return;
    }
    CommandFire(game, t);
}

}  // namespace

void NewGameTank(Game& game, int player, int x, int y, uint8_t colourOffset) {
    Place(game, player, x, y, colourOffset, Placing::NewGame);
}

void StageTank(Game& game, int player, int x, int y, uint8_t colourOffset) {
    Place(game, player, x, y, colourOffset, Placing::Stage);
}

void RespawnTank(Game& game, int player, int x, int y, uint8_t colourOffset) {
    Place(game, player, x, y, colourOffset, Placing::Respawn);
}

void CommandDirection(Game&, PlayerTank& tank, uint8_t direction) {
    if (!tank.alive || !tank.acceptsCommand || tank.locked) return;
    tank.commandedDirection = direction;
    tank.facing = direction;
    tank.stepsLeft = 8;
}

void CommandFire(Game& game, PlayerTank& tank) {
    if (!tank.alive || game.GameOverCaption.base.active) return;
    LaunchPlayerBullet(game, tank.bullet, tank.x, tank.y, tank.level, tank.facing);
}

void PlayerTick(Game& game, int player) {
    PlayerTank& t = game.Player(player);
    if (!t.alive || GetClock(game) < t.nextStepTick) return;
    MovementStep(game, t);
    t.nextStepTick = GetClock(game) + t.stepPeriod;
    if (game.GameMode == gmDemo || (player == 1 && game.autopilotDrivesPlayer1))
        Autopilot(game, player);
    if (t.stepsLeft == 0) {
        t.acceptsCommand = true;
        t.commandedDirection = dirNone;
        t.stepsLeft = 8;
    }
}

void DrawPlayerTank(Game& game, const PlayerTank& t) {
    if (!t.alive || t.facing < dirUp || t.facing > dirRight) return;
    const int sprite = t.spriteBase + (t.facing - 1) + (t.trackPhase ? 0 : 4) + 8 * (t.level & 3);
    DrawSprite(game, t.x, t.y, sprite, game.FrameScreen, t.colourOffset);
}

void StartShield(Game& game, ShieldTimer& shield) {
    const int32_t now = GetClock(game);
    shield.endTick = now + 1080;
    shield.duration = 1080;
    shield.nextFlashTick = now + 6;
    shield.flashPeriod = 6;
    shield.phase = true;
    shield.active = true;
}

void DrawShield(Game& game, PlayerTank& t) {
    ShieldTimer& s = t.shield;
    if (!s.active) return;
    DrawSprite(game, t.x, t.y, 86 + (s.phase ? 1 : 0), game.FrameScreen, 0);
    const int32_t now = GetClock(game);
    if (now >= s.nextFlashTick) {
        s.nextFlashTick = now + s.flashPeriod;
        s.phase = !s.phase;
    }
    if (now >= s.endTick) s.active = false;
}

void LockPlayer(PlayerTank& tank) {
    tank.locked = true;
}

void DestroyPlayer(Game& game, int player) {
    PlayerTank& t = game.Player(player);
    // A tank already lost this frame is not lost again by a second bullet.
    if (!t.alive) return;
    t.alive = false;
    if (t.lives > 0)
        --t.lives;
    else
        t.mayRespawn = false;
    StartExplosion(game, t.explosion, t.x, t.y);
    PlaySound(game, 100, sfxPlayerDestroyed);
}

void Autopilot(Game& game, int player) {
    PlayerTank& t = game.Player(player);
    if (t.locked || !t.acceptsCommand) return;
    if (!t.autopilotFired) {
        AutopilotFire(game, t);
        t.autopilotFired = true;
    }
    const PlayerTank& other = game.Player(player == 1 ? 2 : 1);

    if (!t.autopilotHasTarget || t.autopilotTargetKind == 0) {
        int slot = 0;
        for (int s = 1; s <= std::min(game.EnemyLimit, kEnemySlots); ++s) {
            if (game.Enemy(s).alive && s != other.autopilotTargetSlot) {
                slot = s;
                break;
            }
        }
        t.autopilotHasTarget = true;
        if (slot != 0) {
            t.autopilotTargetSlot = uint8_t(slot);
            t.autopilotTargetKind = 2;
        } else if (!game.Bonus.active || other.autopilotTargetKind == 1) {
            t.autopilotTargetKind = 0;
            return;
        } else {
            t.autopilotTargetKind = 1;
        }
    } else if (t.autopilotTargetKind == 1 && !game.Bonus.active) {
        t.autopilotHasTarget = false;
        return;
    } else if (t.autopilotTargetKind == 2 &&
               (t.autopilotTargetSlot < 1 || t.autopilotTargetSlot > kEnemySlots ||
                !game.Enemy(t.autopilotTargetSlot).alive)) {
        t.autopilotHasTarget = false;
        return;
    }
    int tx, ty;
    if (t.autopilotTargetKind == 1) {
        tx = game.Bonus.x;
        ty = game.Bonus.y;
    } else {
        tx = game.Enemy(t.autopilotTargetSlot).x;
        ty = game.Enemy(t.autopilotTargetSlot).y;
    }

    AutopilotFire(game, t);
    if (!t.blocked) {
        if (t.y < ty - 4)
            CommandDirection(game, t, dirDown);
        else if (ty + 8 < t.y)
            CommandDirection(game, t, dirUp);
        else if (t.x < tx - 4)
            CommandDirection(game, t, dirRight);
        else if (tx + 8 < t.x)
            CommandDirection(game, t, dirLeft);
        return;
    }
    // Blocked: turn away at random.
    static constexpr uint8_t kTurns[4][3] = {
        {dirDown, dirRight, dirLeft},  // facing up
        {dirUp, dirLeft, dirRight},    // facing down
        {dirRight, dirUp, dirDown},    // facing left
        {dirLeft, dirDown, dirUp},     // facing right
    };
    const int r = Random(game, 3);
    if (t.facing >= dirUp && t.facing <= dirRight)
        CommandDirection(game, t, kTurns[t.facing - 1][r]);
}

}  // namespace kdv
