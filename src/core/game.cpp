#include "core/game.h"

namespace kdv {

std::unique_ptr<Game> MakeGame(const Services& services) {
    auto game = std::make_unique<Game>();
    game->io = services;
    game->GraphicsTable[0].data = game->SpriteSheet.data();
    game->GraphicsTable[0].size = game->SpriteSheet.size();
    return game;
}

}  // namespace kdv
