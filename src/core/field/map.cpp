#include "core/field/map.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "core/game.h"
#include "core/screen/graphics_pack.h"

namespace kdv {
namespace {

uint8_t& Cell(Game& game, int column, int row) {
    return game.MapGrid[size_t(column * kMapRows + row)];
}

template <typename Breakable>
void Erase(ScreenBuffer& screen, int x1, int y1, int x2, int y2, uint8_t colour,
           Breakable breakable) {
    for (int y = y1; y <= y2; ++y) {
        if (y < 1 || y > 199) return;
        for (int x = x1; x <= x2; ++x)
            if (breakable(screen.At(x, y))) screen.Set(x, y, colour);
    }
}

}  // namespace

void ResetMap(Game& game) {
    game.MapGrid.fill(0);
    Cell(game, 6, 11) = 1;
    Cell(game, 5, 11) = 5;
    Cell(game, 7, 11) = 6;
    for (int c = 5; c <= 7; ++c) Cell(game, c, 10) = 4;
}

void LoadStage(Game& game, uint16_t index) {
    FileSystem& files = *game.io.files;
    auto size = files.Size(kLevelFile);
    if (!size) throw FileError("File \"data\\lswap.dat\" cannot be opened");
    if (uint64_t(index) + 1 > *size / kLevelRecordBytes) {
        ResetMap(game);
        return;
    }
    auto record = files.Read(kLevelFile, uint64_t(index) * kLevelRecordBytes, kLevelRecordBytes);
    if (!record || record->size() < size_t(kLevelRecordBytes))
        throw FileError("File \"data\\lswap.dat\" could not be read");
    // A code past the last tile would draw a sprite from outside the sheet: such a cell is empty.
    for (int i = 0; i < kMapCells; ++i) {
        const uint8_t code = (*record)[size_t(i)];
        game.MapGrid[size_t(i)] = code <= kMaxTileCode ? code : 0;
    }
    // Kinds are 0..7: bit 2 marks a carrier of kinds 0..3. A byte past 7 keeps its low three
    // bits, so the picture set and the points (kind modulo 4) stay what the file names, and
    // icon, colour, speed, armour and bonus all follow from one kind.
    for (int i = 1; i <= 20; ++i)
        game.EnemyLineup[size_t(i)] = (*record)[size_t(kMapCells + i - 1)] % kEnemyKinds;
}

void BuildBackground(Game& game) {
    ScreenBuffer& back = game.BackScreen;
    FillScreen(back, 0);
    back.SetSize(320, 200);
    FillBackRect(back, 0, 0, 319, 3, kBorderColour);
    FillBackRect(back, 0, 196, 319, 199, kBorderColour);
    FillBackRect(back, 0, 0, 15, 199, kBorderColour);
    FillBackRect(back, 224, 0, 239, 199, kBorderColour);
    FillBackRect(back, 303, 0, 319, 199, kBorderColour);
    FillBackRect(back, 240, 159, 303, 162, kBorderColour);
    DrawSunkenFrame(back, 239, 3, 303, 159);
    DrawSunkenFrame(back, 239, 162, 303, 196);
    for (int row = 0; row < kMapRows; ++row) {
        for (int column = 0; column < kMapColumns; ++column) {
            const uint8_t code = Cell(game, column, row);
            if (code == 0 || code == 12) continue;
            DrawSprite(game, CellX(column), CellY(row), 63 + code, back, 0);
            // The base is drawn over itself into its own colour class.
            if (code == 1) DrawSprite(game, CellX(column), CellY(row), 64, back, kBaseOffset);
        }
    }
}

void DrawTopLayer(Game& game) {
    // The grid is column by column, the order the trees are drawn in.
    const uint8_t* grid = game.MapGrid.data();
    for (const uint8_t* at = grid;
         (at = static_cast<const uint8_t*>(std::memchr(at, 12, size_t(grid + kMapCells - at))));
         ++at) {
        const int cell = int(at - grid);
        DrawSprite(game, CellX(cell / kMapRows), CellY(cell % kMapRows), 75, game.FrameScreen, 0);
    }
}

void DrawEditorMap(Game& game) {
    FillBackRect(game.BackScreen, 16, 4, 223, 196, 0);
    for (int column = 0; column < kMapColumns; ++column) {
        for (int row = 0; row < kMapRows; ++row) {
            const uint8_t code = Cell(game, column, row);
            if (code != 0 && code <= kMaxTileCode)
                DrawSprite(game, CellX(column), CellY(row), 63 + code, game.BackScreen, 0);
        }
    }
}

void EraseBrick(ScreenBuffer& screen, int x1, int y1, int x2, int y2, uint8_t colour) {
    Erase(screen, x1, y1, x2, y2, colour, IsBrick);
}

void EraseBrickAndSteel(ScreenBuffer& screen, int x1, int y1, int x2, int y2, uint8_t colour) {
    Erase(screen, x1, y1, x2, y2, colour, [](uint8_t c) { return IsBrick(c) || IsSteel(c); });
}

bool RowIsClear(const Game& game, int x, int y) {
    std::array<uint8_t, 16> row;
    game.FrameScreen.Read(x, y, row);
    uint64_t halves[2];
    std::memcpy(halves, row.data(), sizeof halves);
    return (halves[0] | halves[1]) == 0;
}

bool ColumnIsClear(const Game& game, int x, int y) {
    for (int i = 0; i < 16; ++i)
        if (game.FrameScreen.At(x, y + i) != 0) return false;
    return true;
}

}  // namespace kdv
