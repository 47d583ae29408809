#pragma once
// The stage map and the colour classes through which everything on the field collides. Nothing
// consults the map while playing: tanks and bullets read the colours of the frame, and bullets
// break walls by recolouring the background layer.
#include <array>
#include <cstdint>

namespace kdv {

struct Game;
struct ScreenBuffer;

constexpr int kMapColumns = 13;
constexpr int kMapRows = 12;
constexpr int kMapCells = kMapColumns * kMapRows;
constexpr int kLevelRecordBytes = 176;
// The file's size is a 16-bit number: 65,535 bytes hold 372 whole records.
constexpr int kMaxLevelRecords = 0xFFFF / kLevelRecordBytes;
constexpr int kMaxTileCode = 13;
constexpr int kEnemyKinds = 8;  // computer-tank kinds of a line-up: 0..3, and 4..7 carriers

// Column by column: cell (c, r) is byte c * 12 + r.
using MapGrid = std::array<uint8_t, kMapCells>;
// Entries 1..20; entry 0 is unused.
using EnemyLineup = std::array<uint8_t, 21>;

// Colours with a meaning on the field.
constexpr uint8_t kEraseColour = 0;
constexpr uint8_t kBulletColour = 15;
constexpr uint8_t kBorderColour = 208;
constexpr uint8_t kBaseColour = 254;
constexpr uint8_t kBaseOffset = 214;

constexpr bool IsBrick(uint8_t c) {
    return c == 4 || c == 8;
}
constexpr bool IsSteel(uint8_t c) {
    return c >= 17 && c <= 31;
}
constexpr bool IsWater(uint8_t c) {
    return c == 1 || c == 9;
}
constexpr bool IsEnemyColour(uint8_t c) {
    return c >= 65 && c <= 96;
}
constexpr bool IsPlayer1Colour(uint8_t c) {
    return c >= 132 && c <= 143;
}
constexpr bool IsPlayer2Colour(uint8_t c) {
    return c >= 196 && c <= 207;
}

constexpr int CellX(int column) {
    return 16 + 16 * column;
}
constexpr int CellY(int row) {
    return 4 + 16 * row;
}

void LoadStage(Game& game, uint16_t index);
void ResetMap(Game& game);
void BuildBackground(Game& game);
void DrawTopLayer(Game& game);
void DrawEditorMap(Game& game);
void EraseBrick(ScreenBuffer& screen, int x1, int y1, int x2, int y2, uint8_t colour);
void EraseBrickAndSteel(ScreenBuffer& screen, int x1, int y1, int x2, int y2, uint8_t colour);
bool RowIsClear(const Game& game, int x, int y);
bool ColumnIsClear(const Game& game, int x, int y);

}  // namespace kdv
