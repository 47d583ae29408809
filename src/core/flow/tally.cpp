#include "core/flow/tally.h"

#include <algorithm>

#include "core/flow/game_flow.h"
#include "core/game.h"
#include "core/screen/present.h"
#include "core/sound/sound.h"

namespace kdv {
namespace {

void Text(Game& game, int x, int y, uint8_t colour, const std::string& text) {
    DrawText(game, game.GameFont, uint16_t(x), uint16_t(y), colour, text);
}

std::string Padded(long value, size_t width) {
    return PadText(std::to_string(value), width, ' ', true);
}

void EndTally(Game& game) {
    if (game.EnemyReserve.StageWon) NextStage(game);
    StartGame(game);
}

}  // namespace

std::string PadText(const std::string& text, size_t width, char fill, bool left) {
    if (text.size() >= width) return text;
    const std::string padding(width - text.size(), fill);
    return left ? padding + text : text + padding;
}

int32_t CountLevels(Game& game) {
    auto size = game.io.files->Size(kLevelFile);
    if (!size) return 0;
    // A file without a whole record holds no stage (and not even the demonstration's map).
    const uint64_t records = std::max<uint64_t>(*size / kLevelRecordBytes, 1);
    // Stage numbers and the file offsets they address are 16-bit; records past that limit
    // cannot be played.
    if (records > uint64_t(kMaxLevelRecords)) {
        game.io.window->ShowMessage("The level file \"" + game.io.files->Where(kLevelFile) +
                                    "\" holds " + std::to_string(records) +
                                    " records; only the first " + std::to_string(kMaxLevelRecords) +
                                    " are used (stages 1 to " +
                                    std::to_string(kMaxLevelRecords - 1) + ")");
        return kMaxLevelRecords - 1;
    }
    return int32_t(records - 1);
}

void NextStage(Game& game) {
    game.StageNumber = game.StageNumber < game.LevelCount ? game.StageNumber + 1 : 1;
}

void StartTally(Game& game, bool twoPlayers) {
    TallyState& t = game.Tally;
    game.GameState = twoPlayers ? gsTallyTwoPlayers : gsTallyOnePlayer;
    FillScreen(game.FrameScreen, 0);
    Text(game, 140, 10, 15, "SCORE");
    Text(game, 16, 25, 15, "PLAYER I");
    Text(game, 16, 35, 12, Padded(game.Player(1).score, 6) + " PTS");
    Text(game, 232, 25, 15, "PLAYER II");
    Text(game, 232, 35, 12, Padded(game.Player(2).score, 6) + " PTS");
    t.originX = 152;
    t.originY = 70;
    for (int kind = 0; kind < 4; ++kind)
        DrawSprite(game, 152, 70 + 18 * kind, 32 + 8 * kind, game.FrameScreen, 0);
    Text(game, 112, 140, 15, "-------------");
    PresentFrame(game);
    t.total1 = 0;
    t.total2 = 0;
    t.rowOffset = 0;
    t.period = FramesPerSecond(game);
    t.nextDue = GetClock(game) + t.period;
    t.phase = 1;
}

void TallyFrame(Game& game, bool twoPlayers) {
    TallyState& t = game.Tally;
    if (TakeLastKey(game) == 27) {
        EndTally(game);
        return;
    }
    const PlayerTank& p1 = game.Player(1);
    const PlayerTank& p2 = game.Player(2);
    if (t.phase >= 1 && t.phase <= 4) {
        const size_t kind = size_t(t.phase - 1);
        const int y = t.originY + t.rowOffset + 4;
        const int kills2 = twoPlayers ? p2.kills[kind] : 0;
        Text(game, t.originX - 40, y, 15, Padded(p1.kills[kind], 2) + " <");
        Text(game, t.originX + 24, y, 15, "> " + Padded(kills2, 2));
        Text(game, t.originX + 56, y, 15, "  " + std::to_string(t.phase * 100) + " PTS");
        if (GetClock(game) > t.nextDue) {
            t.total1 += p1.kills[kind];
            if (twoPlayers) t.total2 += p2.kills[kind];
            t.rowOffset += 18;
            t.nextDue = GetClock(game) + t.period;
            ++t.phase;
            PlaySound(game, 100, sfxClank);
            if (t.phase == 5 && twoPlayers && t.total1 != t.total2)
                game.Player(t.total1 > t.total2 ? 1 : 2).score += 1000;
        }
        PresentFrame(game);
    } else if (t.phase == 5) {
        Text(game, t.originX - 40, t.originY + 80, 15,
             Padded(t.total1, 2) + "        " + Padded(t.total2, 2));
        if (twoPlayers && t.total1 != t.total2) {
            const int x = t.total1 > t.total2 ? 16 : t.originX + 24;
            Text(game, x, t.originY + 102, 15, "BONUS 1000 PTS");
        }
        if (GetClock(game) > t.nextDue) {
            t.nextDue = GetClock(game) + t.period + FramesPerSecond(game);
            t.phase = 6;
        }
        PresentFrame(game);
    } else if (GetClock(game) > t.nextDue) {
        EndTally(game);
    } else {
        PresentFrame(game);
    }
}

}  // namespace kdv
