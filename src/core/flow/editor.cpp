#include "core/flow/editor.h"

#include <exception>
#include <string>

#include "core/field/map.h"
#include "core/flow/game_flow.h"
#include "core/flow/tally.h"
#include "core/game.h"
#include "core/screen/present.h"

namespace kdv {
namespace {

struct HelpLine {
    int y;
    const char* text;
};

constexpr HelpLine kHelp[] = {
    {10, "Move: Press"}, {20, "\x18,\x19,\x1a,\x1b"}, {40, "Next Wall:"}, {50, "Press Space"},
    {70, "Put Wall:"},   {80, "Press Enter"},         {100, "Save and"},  {110, "exit:"},
    {120, "Press ESC"},
};

// Every edited level is saved with this line-up (entries 1..20).
constexpr uint8_t kEditorLineup[21] = {0, 0, 0, 4, 0, 0, 0, 4, 0, 0, 0,
                                       0, 1, 0, 5, 0, 0, 3, 3, 3, 7};

}  // namespace

void StartEditor(Game& game) {
    EditorState& e = game.Editor;
    game.GameState = gsLevelEditor;
    // Leaving the demo through the editor must not leave the game in demo mode.
    if (game.GameMode == gmDemo) game.GameMode = game.SavedMode;
    ResetMap(game);
    for (int i = 1; i <= 20; ++i) game.EnemyLineup[size_t(i)] = kEditorLineup[i];
    e.column = 0;
    e.row = 0;
    e.blink = true;
    e.wallKind = 1;
    e.lastBlink = false;
    e.nextBlink = GetClock(game) + 4;
}

void SaveEditedLevel(Game& game) {
    FileSystem& files = *game.io.files;
    // Another copy of the game may be saving a level too: the records are counted, and the
    // file read and replaced, while it waits.
    const auto lock = files.Lock(kLevelFile);
    const std::string named = "\"" + files.Where(kLevelFile) + "\"";
    const auto size = files.Size(kLevelFile);
    if (!size) throw FileError(named + " does not exist");
    // Bytes after the last whole record (a copy cut short) were never a level; the new record
    // takes their place, so that it starts on a record boundary and can be read.
    const uint64_t records = *size / kLevelRecordBytes;
    if (records >= uint64_t(kMaxLevelRecords))
        throw FileError("the level file is full (" + std::to_string(kMaxLevelRecords) +
                        " records); no further stage could be played");
    const size_t keep = size_t(records) * kLevelRecordBytes;
    auto data = files.Read(kLevelFile, 0, keep);
    if (!data || data->size() != keep) throw FileError(named + " cannot be read");
    data->insert(data->end(), game.MapGrid.begin(), game.MapGrid.end());
    data->insert(data->end(), game.EnemyLineup.begin() + 1, game.EnemyLineup.end());
    // The whole file is written anew beside the old one and put in its place, so that no
    // failure or kill can leave a record half written.
    if (!files.Replace(kLevelFile, *data)) throw FileError(named + " cannot be written");
    // The new stage can be chosen at once (with any a second copy of the game added).
    game.LevelCount = CountLevels(game);
    game.io.window->LevelSaved(int(records));
}

void EditorFrame(Game& game) {
    EditorState& e = game.Editor;
    ScreenBuffer& back = game.BackScreen;
    FillBackRect(back, 0, 0, 319, 3, kBorderColour);
    FillBackRect(back, 0, 196, 319, 199, kBorderColour);
    FillBackRect(back, 0, 0, 15, 199, kBorderColour);
    FillBackRect(back, 224, 0, 319, 199, kBorderColour);
    DrawSunkenFrame(back, 15, 3, 224, 196);

    switch (TakeLastKey(game)) {
        case 38:
            if (e.row > 0) --e.row;
            break;
        case 40:
            if (e.row < kMapRows - 1) ++e.row;
            break;
        case 37:
            if (e.column > 0) --e.column;
            break;
        case 39:
            if (e.column < kMapColumns - 1) ++e.column;
            break;
        case 32:
            e.wallKind = e.wallKind >= kMaxTileCode ? 0 : e.wallKind + 1;
            break;
        case 13:
            game.MapGrid[size_t(e.column * kMapRows + e.row)] = uint8_t(e.wallKind);
            e.blink = true;
            break;
        case 27:
            try {
                SaveEditedLevel(game);
            } catch (const std::exception& error) {
                // The map stays in the editor, so that the player's work is not lost.
                ++game.FailedSaves;
                game.io.window->ShowMessage(std::string("The level was not saved: ") +
                                            error.what());
                break;
            }
            EnterTitle(game);
            // The rest of the frame would paint the map into the title's cleared background
            // when the blink falls due, and show one frame of help texts on an empty field.
            return;
        default:
            break;
    }

    if (GetClock(game) >= e.nextBlink) {
        e.nextBlink = GetClock(game) + 32;
        e.blink = !e.blink;
    }
    if (e.blink != e.lastBlink) {
        e.lastBlink = e.blink;
        DrawEditorMap(game);
        const int sprite = e.blink && e.wallKind >= 1 ? 63 + e.wallKind : 0;
        DrawSprite(game, CellX(e.column), CellY(e.row), sprite, back, 0);
    }
    CopyToFrame(game.FrameScreen, back);
    for (const HelpLine& line : kHelp)
        DrawText(game, game.GameFont, 228, uint16_t(line.y), 0, line.text);
    PresentFrame(game);
}

}  // namespace kdv
