#pragma once
#include <cstdint>

namespace kdv {

enum GameStateValue : uint8_t {
    gsPlay = 0,
    gsTitleScroll = 1,
    gsStageIntro = 2,
    gsTallyOnePlayer = 3,
    gsTallyTwoPlayers = 4,
    gsDemo = 5,
    gsTitleIdle = 6,
    gsLevelEditor = 7,
};

enum GameModeValue : uint8_t {
    gmDemo = 0,
    gmOnePlayer = 1,
    gmTwoPlayers = 2,
    gmDuel = 3,
};

enum Direction : uint8_t { dirNone = 0, dirUp = 1, dirDown = 2, dirLeft = 3, dirRight = 4 };

struct TitleScrollState {
    int32_t TargetRow = 0;
    int32_t Row = 0;
    int32_t NextDue = 0;
};

// What the level selection dialog keeps between openings.
struct SelectLevelState {
    int32_t position = 1;  // the level spinner
    int32_t gameItem = 0;  // 0 one player, 1 two players, 2 duel
};

}  // namespace kdv
