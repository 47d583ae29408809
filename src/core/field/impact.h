#pragma once
// What a player's bullet does when it stops, and the players' bullet tick.

namespace kdv {

struct Game;

// Moves the player's bullet while it flies and resolves its impact once it has stopped.
void PlayerBulletTick(Game& game, int player);
// Pays the shooter for the computer tank in slot: points and a kill of its kind.
void AwardKill(Game& game, int shooter, int slot);

}  // namespace kdv
