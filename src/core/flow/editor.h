#pragma once
// The level editor: paints a map cell by cell and appends it to the level file.
#include <cstdint>

namespace kdv {

struct Game;

struct EditorState {
    int32_t column = 0;
    int32_t row = 0;
    int32_t wallKind = 0;
    bool blink = false;
    bool lastBlink = false;
    int32_t nextBlink = 0;
};

void StartEditor(Game& game);
void EditorFrame(Game& game);
void SaveEditedLevel(Game& game);

}  // namespace kdv
