#include "core/field/impact.h"

#include "core/field/bonus.h"
#include "core/field/bullet.h"
#include "core/field/enemy.h"
#include "core/field/explosion.h"
#include "core/field/map.h"
#include "core/field/player.h"
#include "core/flow/game_flow.h"
#include "core/game.h"
#include "core/sound/sound.h"

namespace kdv {
namespace {

bool Vertical(const Bullet& b) {
    return b.lastDirection == dirUp || b.lastDirection == dirDown;
}

// The full-power block: brick and steel over the width of a tank, two cells deep sideways.
void EraseHeavyBlock(Game& game, const Bullet& b, bool steelToo) {
    const int x8 = b.x & ~7, y8 = b.y & ~7;
    const int left = Vertical(b) ? x8 : x8 - 8;
    if (steelToo)
        EraseBrickAndSteel(game.BackScreen, left, y8 - 4, x8 + 15, y8 + 11, 0);
    else
        EraseBrick(game.BackScreen, left, y8 - 4, x8 + 15, y8 + 11, 0);
}

void HitBrick(Game& game, Bullet& b) {
    b.done = true;
    if (b.power >= 2) {
        EraseHeavyBlock(game, b, false);
        return;
    }
    BreakBrickStrip(game, b);
}

// Brick lying against steel: a narrower bite, so that the steel beside it is not reached.
void HitBrickBesideSteel(Game& game, Bullet& b) {
    b.done = true;
    const int x = b.x, y = b.y, x8 = x & ~7, y8 = y & ~7;
    ScreenBuffer& back = game.BackScreen;
    if (b.power < 2) {
        if (Vertical(b))
            EraseBrick(back, x - 7, y - 4, x, y + 4, 0);
        else
            EraseBrick(back, x - 4, y - 7, x + 4, y, 0);
    } else if (b.power == 2) {
        if (Vertical(b))
            EraseBrick(back, x8, y8 - 4, x8 + 7, y8 + 11, 0);
        else if (b.lastDirection == dirLeft)
            EraseBrick(back, x8 - 8, y8 - 4, x8 - 1, y8 + 4, 0);
        else
            EraseBrick(back, x8 + 8, y8 - 4, x8 + 15, y8 + 4, 0);
    } else {
        EraseHeavyBlock(game, b, true);
    }
}

void HitEnemy(Game& game, Bullet& b) {
    b.done = true;
    const int slot = FindEnemyAt(game, b.x, b.y);
    if (slot == 0) return;
    EnemyTank& tank = game.Enemy(slot);
    EnemyHit(game, tank);
    if (tank.armour == 0) AwardKill(game, b.owner, slot);
    // Carriers bring a bonus on every hit, not only the last.
    if (tank.kind >= 4) PlaceBonus(game);
}

void Impact(Game& game, Bullet& b) {
    switch (b.hitKind) {
        case hitSteel:
            if (b.power < 3) {
                ShowPlayerBurst(game, b);
            } else {
                EraseHeavyBlock(game, b, true);
                b.done = true;
            }
            break;
        case hitBrick:
            HitBrick(game, b);
            break;
        case hitBase:
            // A player's bullet asks for the sound a second time: the counts of sounds played,
            // which the replays check, keep that.
            if (StrikeBase(game, b)) PlaySound(game, 100, sfxBaseFalls);
            break;
        case hitPlayer1:
        case hitPlayer2:
            StrikePlayerTank(game, b);
            break;
        case hitEnemy:
            HitEnemy(game, b);
            break;
        case hitBrickBesideSteel:
            HitBrickBesideSteel(game, b);
            break;
        default:  // the frame or another bullet
            ShowPlayerBurst(game, b);
            break;
    }
}

}  // namespace

void AwardKill(Game& game, int shooter, int slot) {
    if (shooter < 1 || shooter > 2) return;
    const int kind = game.Enemy(slot).kind % 4;
    PlayerTank& p = game.Player(shooter);
    p.score += 100 * (kind + 1);
    ++p.kills[size_t(kind)];
}

void PlayerBulletTick(Game& game, int player) {
    Bullet& b = game.Player(player).bullet;
    if (b.done || GetClock(game) < b.nextStepTick) return;
    if (b.state >= dirUp && b.state <= dirRight)
        PlayerBulletStep(game, b);
    else if (b.state == kBulletStopped)
        Impact(game, b);
    b.nextStepTick = GetClock(game) + b.stepPeriod;
}

}  // namespace kdv
