#include "core/game.h"

#include <cstdint>

namespace kdv {

std::unique_ptr<Game> MakeGame(const Services& services) {
    auto game = std::make_unique<Game>();
    game->io = services;
    game->GraphicsTable[0].data = game->SpriteSheet.data();
    game->GraphicsTable[0].size = game->SpriteSheet.size();
    NoteSpriteSheet(*game);
    return game;
}

void Game::CopyStateFrom(const Game& other) {
    if (&other == this) return;
    const Services own = io;
    *this = other;
    io = own;
    // Entries into the other game's sprite sheet or font buffer move to ours at the same offset.
    auto rebase = [](uint8_t*& data, const uint8_t* from, size_t size, uint8_t* to) {
        const auto at = reinterpret_cast<uintptr_t>(data), base = reinterpret_cast<uintptr_t>(from);
        if (at >= base && at - base < size) data = to + (at - base);
    };
    for (GraphicsEntry& entry : GraphicsTable) {
        rebase(entry.data, other.SpriteSheet.data(), SpriteSheet.size(), SpriteSheet.data());
        rebase(entry.data, other.GameFontBuffer.data(), GameFontBuffer.size(),
               GameFontBuffer.data());
    }
}

}  // namespace kdv
