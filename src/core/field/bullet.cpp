#include "core/field/bullet.h"

#include <cstdlib>

#include "core/field/explosion.h"
#include "core/field/map.h"
#include "core/field/player.h"
#include "core/flow/game_flow.h"
#include "core/game.h"
#include "core/screen/graphics_pack.h"
#include "core/sound/sound.h"

namespace kdv {
namespace {

// What a probe found. A colour outside every class stops the bullet like the frame does
// (unclassified), rather than repeating whatever stopped it last time.
struct Probe {
    bool blocked;
    bool classified;
    uint8_t hitKind;
};

constexpr Probe kPass{false, true, 0};
constexpr Probe Hit(uint8_t kind) {
    return {true, true, kind};
}
constexpr Probe kUnclassified{true, false, hitFrame};

Probe ClassifyForEnemy(uint8_t c) {
    if (c == 0 || IsWater(c) || IsEnemyColour(c)) return kPass;
    if (IsBrick(c)) return Hit(hitBrick);
    if (IsSteel(c)) return Hit(hitSteel);
    if (c == kBorderColour) return Hit(hitFrame);
    if (IsPlayer1Colour(c)) return Hit(hitPlayer1);
    if (IsPlayer2Colour(c)) return Hit(hitPlayer2);
    if (c == kBaseColour) return Hit(hitBase);
    if (c == kBulletColour) return Hit(hitBullet);
    return kUnclassified;
}

Probe ClassifyForPlayer(const Game& game, const Bullet& b, uint8_t c) {
    const bool duel = game.GameMode == gmDuel;
    if (c == 0 || IsWater(c)) return kPass;
    if (IsBrick(c)) return Hit(hitBrick);
    if (IsSteel(c)) return Hit(hitSteel);
    if (c == kBorderColour) return Hit(hitFrame);
    if (IsPlayer1Colour(c) && b.owner == 2 && duel) return Hit(hitPlayer1);
    if (IsPlayer2Colour(c) && b.owner != 2 && duel) return Hit(hitPlayer2);
    if ((c >= 68 && c <= 79) || (c >= 84 && c <= 96)) return Hit(hitEnemy);
    if (c == kBaseColour) return Hit(hitBase);
    if (c == kBulletColour) return Hit(hitBullet);
    return kUnclassified;
}

// The deciding pixel at the given distance ahead, shifted across the path by `across`.
uint8_t ProbeAhead(const Game& game, const Bullet& b, int distance, int across) {
    switch (b.state) {
        case dirUp:
            return ProbeRow(game, b.x + across, b.y - distance);
        case dirDown:
            return ProbeRow(game, b.x + across, b.y + distance);
        case dirLeft:
            return ProbeColumn(game, b.x - distance, b.y + across);
        default:
            return ProbeColumn(game, b.x + distance, b.y + across);
    }
}

void Move(Bullet& b, int direction, int distance) {
    switch (direction) {
        case dirUp:
            b.y = uint16_t(b.y - distance);
            break;
        case dirDown:
            b.y = uint16_t(b.y + distance);
            break;
        case dirLeft:
            b.x = uint16_t(b.x - distance);
            break;
        case dirRight:
            b.x = uint16_t(b.x + distance);
            break;
        default:
            break;
    }
}

void Launch(Game& game, Bullet& b, int x, int y, uint8_t power, uint8_t direction) {
    const int32_t now = GetClock(game);
    b.state = direction;
    b.lastDirection = direction;
    b.x = uint16_t(x);
    b.y = uint16_t(y);
    b.done = false;
    b.power = power;
    b.burstFrames = 3;
    b.burstPeriod = 12;
    b.nextBurstTick = now + 12;
    b.stepPeriod = 1;
    b.nextStepTick = now + 1;
    static constexpr uint8_t kSpeed[4] = {1, 2, 3, 3};
    b.speed = kSpeed[power & 3];
}

void CountStoppedShot(Game& game, const Bullet& b) {
    if (b.owner != 1 && b.owner != 2) return;
    PlayCounters& c = game.counters;
    const size_t p = b.owner - 1u;
    ++c.playerShotsStopped;
    if (std::abs(b.x - c.shotFromX[p]) + std::abs(b.y - c.shotFromY[p]) <= 8) ++c.playerShotsShort;
}

void DrawMarker(Game& game, int x, int y) {
    for (int dy = 0; dy < 2; ++dy) game.FrameScreen.SetRun(x, y + dy, 2, kBulletColour);
}

void EnemyBulletImpact(Game& game, Bullet& b) {
    switch (b.hitKind) {
        case hitBrick:
            b.done = true;
            BreakBrickStrip(game, b);
            break;
        case hitBase:
            StrikeBase(game, b);
            break;
        case hitPlayer1:
        case hitPlayer2:
            StrikePlayerTank(game, b);
            break;
        default:  // the frame, steel, another bullet: the burst
            ShowBurst(game, b);
            break;
    }
}

}  // namespace

uint8_t ProbeRow(const Game& game, int x, int y) {
    uint8_t c = 0;
    for (int i = -1; i <= 2; ++i) {
        c = game.FrameScreen.At(x + i, y);
        if (c != 0 && !IsWater(c)) break;
    }
    return c;
}

uint8_t ProbeColumn(const Game& game, int x, int y) {
    uint8_t c = 0;
    for (int i = -1; i <= 2; ++i) {
        c = game.FrameScreen.At(x, y + i);
        if (c != 0 && !IsWater(c)) break;
    }
    return c;
}

void LaunchBullet(Game& game, Bullet& bullet, int tankX, int tankY, uint8_t power,
                  uint8_t direction) {
    if (!bullet.done) return;
    switch (direction) {
        case dirUp:
            Launch(game, bullet, tankX + 7, tankY, power, direction);
            break;
        case dirDown:
            Launch(game, bullet, tankX + 7, tankY + 15, power, direction);
            break;
        case dirLeft:
            Launch(game, bullet, tankX, tankY + 7, power, direction);
            break;
        case dirRight:
            Launch(game, bullet, tankX + 15, tankY + 7, power, direction);
            break;
        default:
            break;
    }
}

void DrawBullet(Game& game, const Bullet& b) {
    if (b.done || b.state == kBulletStopped) return;
    switch (b.state) {
        case dirDown:
            DrawMarker(game, b.x, b.y - 1);
            break;
        case dirRight:
            DrawMarker(game, b.x - 1, b.y);
            break;
        default:
            DrawMarker(game, b.x, b.y);
            break;
    }
}

void BreakBrickStrip(Game& game, const Bullet& b) {
    const int x4 = b.x & ~3, y4 = b.y & ~3;
    ScreenBuffer& back = game.BackScreen;
    switch (b.lastDirection) {
        case dirUp:
            EraseBrick(back, x4 - 4, y4 - 4, x4 + 11, y4, 0);
            break;
        case dirDown:
            EraseBrick(back, x4 - 4, y4 + 3, x4 + 11, y4 + 7, 0);
            break;
        case dirLeft:
            EraseBrick(back, x4 - 4, y4 - 4, x4, y4 + 11, 0);
            break;
        case dirRight:
            EraseBrick(back, x4 + 3, y4 - 4, x4 + 7, y4 + 11, 0);
            break;
        default:
            break;
    }
}

bool StrikeBase(Game& game, Bullet& b) {
    // A bullet still flying when the game is already lost does not start it again.
    const bool falls = !game.GameOverCaption.base.active && !game.StageEnded;
    if (falls) {
        ++game.counters.baseShot;
        BaseFalls(game);
    }
    b.done = true;
    return falls;
}

void StrikePlayerTank(Game& game, Bullet& b) {
    const int player = b.hitKind == hitPlayer1 ? 1 : 2;
    if (!game.Player(player).shield.active) DestroyPlayer(game, player);
    b.done = true;
}

void ShowBurst(Game& game, Bullet& b) {
    if (b.y > 6 && b.burstFrames >= 1 && b.burstFrames <= 3)
        DrawSprite(game, b.x - 7, b.y - 7, 91 - b.burstFrames, game.FrameScreen, 0);
    const int32_t now = GetClock(game);
    if (now >= b.nextBurstTick) {
        b.nextBurstTick = now + b.burstPeriod;
        if (b.burstFrames > 0) --b.burstFrames;
    }
    if (b.burstFrames == 0) b.done = true;
}

void BulletTick(Game& game, Bullet& b) {
    if (b.done || GetClock(game) < b.nextStepTick) return;
    if (b.state >= dirUp && b.state <= dirRight) {
        const Probe probe = ClassifyForEnemy(ProbeAhead(game, b, b.speed, 0));
        if (!probe.blocked) {
            Move(b, b.state, b.speed);
            b.lastDirection = b.state;
        } else {
            b.state = kBulletStopped;
            b.hitKind = probe.hitKind;
        }
    } else if (b.state == kBulletStopped) {
        EnemyBulletImpact(game, b);
    }
    b.nextStepTick = GetClock(game) + b.stepPeriod;
}

void LaunchPlayerBullet(Game& game, Bullet& bullet, int tankX, int tankY, uint8_t power,
                        uint8_t direction) {
    if (!bullet.done) return;
    if (direction == dirRight)
        Launch(game, bullet, tankX + 14, tankY + 7, power, direction);
    else
        LaunchBullet(game, bullet, tankX, tankY, power, direction);
    if (bullet.owner == 1 || bullet.owner == 2) {
        game.counters.shotFromX[bullet.owner - 1u] = bullet.x;
        game.counters.shotFromY[bullet.owner - 1u] = bullet.y;
    }
    PlaySound(game, 100, sfxShot);
}

void DrawPlayerBullet(Game& game, const Bullet& b) {
    if (b.done || b.state == kBulletStopped) return;
    switch (b.state) {
        case dirUp:
            DrawMarker(game, b.x, b.y);
            break;
        case dirDown:
            DrawMarker(game, b.x, b.y - 1);
            break;
        default:
            DrawMarker(game, b.x + 4, b.y);
            break;
    }
}

void PlayerBulletStep(Game& game, Bullet& b) {
    if (b.state < dirUp || b.state > dirRight) return;
    const uint8_t direction = b.state;
    const Probe probe = ClassifyForPlayer(game, b, ProbeAhead(game, b, b.speed, 0));
    if (!probe.blocked) {
        Move(b, direction, b.speed);
        b.lastDirection = direction;
        return;
    }
    b.hitKind = probe.hitKind;
    if (b.hitKind == hitBrick) {
        // Brick with steel two pixels across is broken differently.
        const Probe second = ClassifyForPlayer(game, b, ProbeAhead(game, b, b.speed, 2));
        if (second.blocked && second.classified) b.hitKind = second.hitKind;
        if (second.blocked && b.hitKind == hitSteel) b.hitKind = hitBrickBesideSteel;
    }
    if (b.hitKind == hitPlayer1 || b.hitKind == hitPlayer2 || b.hitKind == hitEnemy)
        Move(b, direction, b.speed);  // into the tank it hit
    b.state = kBulletStopped;
    CountStoppedShot(game, b);
    // A weak bullet rings on steel once, as its burst begins.
    if (b.hitKind == hitSteel && b.power < 3) PlaySound(game, 100, sfxClank);
}

void ShowPlayerBurst(Game& game, Bullet& bullet) {
    ShowBurst(game, bullet);
}

}  // namespace kdv
