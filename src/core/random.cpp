#include "core/random.h"

#include "core/game.h"

namespace kdv {

int32_t Random(Game& game, int32_t n) {
    game.RandSeed = game.RandSeed * 134775813u + 1u;
    return int32_t((uint64_t(uint32_t(n)) * game.RandSeed) >> 32);
}

}  // namespace kdv
