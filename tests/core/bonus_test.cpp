// The bonus: placing it, the edge scan that decides who takes it, its effects and its time-out;
// and the steel fortification around the base.
#include <gtest/gtest.h>

#include <limits>
#include <set>
#include <stdexcept>
#include <utility>

#include "core/field/bonus.h"
#include "core/flow/game_flow.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "core/random.h"
#include "testkit/testkit.h"

using namespace kdv;

namespace {

constexpr int kX = 64, kY = 60;  // where the tests lay their bonus

struct Field : testkit::Rig {
    Field() {
        InstallStandardData();
        EXPECT_TRUE(StartUp());
        g().GameClock = 1000;
        FillScreen(g().FrameScreen, 0);
    }

    Bonus& Lay(uint8_t kind, int x = kX, int y = kY) {
        Bonus& b = g().Bonus;
        b = Bonus{};
        b.x = uint16_t(x);
        b.y = uint16_t(y);
        b.kind = kind;
        b.spriteBase = 80;
        b.duration = 2160;
        b.endTick = g().GameClock + 2160;
        b.active = true;
        return b;
    }
};

// The pixels the four scans look at: rows y and y + 16 over columns x..x+15, columns x and
// x + 16 over rows y..y+15.
std::set<std::pair<int, int>> ScannedPixels(int x, int y) {
    std::set<std::pair<int, int>> s;
    for (int i = 0; i < 16; ++i) {
        s.insert({x + i, y});
        s.insert({x + i, y + 16});
        s.insert({x, y + i});
        s.insert({x + 16, y + i});
    }
    return s;
}

bool AllIs(const ScreenBuffer& b, int x1, int y1, int x2, int y2, uint8_t colour) {
    for (int y = y1; y <= y2; ++y)
        for (int x = x1; x <= x2; ++x)
            if (b.At(x, y) != colour) return false;
    return true;
}

// The brick and steel parts of the five fortification tiles, as the test tiles draw them.
struct Part {
    int x1, y1, x2, y2;
};
constexpr Part kFortParts[] = {{96, 172, 111, 179},
                               {112, 172, 127, 179},
                               {128, 172, 143, 179},
                               {104, 180, 111, 195},
                               {128, 180, 135, 195}};

bool FortificationIs(const ScreenBuffer& b, uint8_t colour) {
    for (const Part& p : kFortParts)
        if (!AllIs(b, p.x1, p.y1, p.x2, p.y2, colour)) return false;
    return true;
}

}  // namespace

TEST(PlaceBonus, DrawsXThenYThenKindAndStaysOnTheLattice) {
    Field rig;
    Game& g = rig.g();
    std::set<int> xs, ys, kinds;
    for (int i = 0; i < 3000; ++i) {
        const uint32_t seed = g.RandSeed;
        const int r1 = Random(g, 22), r2 = Random(g, 20), r3 = Random(g, 6);
        const uint32_t after = g.RandSeed;
        g.RandSeed = seed;
        g.GameClock = 1000 + i;
        PlaceBonus(g);
        const Bonus& b = g.Bonus;
        ASSERT_EQ(g.RandSeed, after);  // exactly three draws
        ASSERT_EQ(b.x, 32 + 8 * r1);
        ASSERT_EQ(b.y, 20 + 8 * r2);
        ASSERT_EQ(b.kind, r3);
        ASSERT_TRUE(b.active);
        ASSERT_EQ(b.spriteBase, 80);
        ASSERT_EQ(b.endTick, g.GameClock + 2160);
        xs.insert(b.x);
        ys.insert(b.y);
        kinds.insert(b.kind);
    }
    EXPECT_EQ(xs.size(), 22u);
    EXPECT_EQ(*xs.begin(), 32);
    EXPECT_EQ(*xs.rbegin(), 200);
    EXPECT_EQ(ys.size(), 20u);
    EXPECT_EQ(*ys.begin(), 20);
    EXPECT_EQ(*ys.rbegin(), 172);
    EXPECT_EQ(kinds.size(), 6u);
    EXPECT_EQ(g.soundsPlayed[sfxBonusPlaced], 3000u);
}

TEST(BonusScan, TakenExactlyWhenAPlayerColourLiesOnAScannedPixel) {
    // Everything around and inside the square in player 1's colour except the scanned pixels:
    // nothing beyond a scan's 16th pixel is ever looked at.
    {
        Field rig;
        Game& g = rig.g();
        const auto scanned = ScannedPixels(kX, kY);
        for (int y = kY - 3; y <= kY + 19; ++y)
            for (int x = kX - 3; x <= kX + 19; ++x)
                if (!scanned.count({x, y})) g.FrameScreen.Set(x, y, 133);
        rig.Lay(0);
        BonusStep(g);
        EXPECT_TRUE(g.Bonus.active);
        EXPECT_EQ(g.Player(1).score, 0);
    }
    // And every scanned pixel on its own is enough.
    for (const auto& [x, y] : ScannedPixels(kX, kY)) {
        Field rig;
        Game& g = rig.g();
        g.FrameScreen.Set(x, y, 133);
        rig.Lay(0);
        BonusStep(g);
        EXPECT_FALSE(g.Bonus.active) << x << "," << y;
        EXPECT_EQ(g.Bonus.collector, 1);
    }
}

TEST(BonusScan, ColourRangesOfTheTwoPlayers) {
    const std::pair<int, int> cases[] = {{127, 0}, {128, 1}, {143, 1}, {144, 0}, {192, 0},
                                         {196, 0}, {197, 2}, {212, 2}, {213, 0}};
    for (const auto& [colour, collector] : cases) {
        Field rig;
        Game& g = rig.g();
        g.FrameScreen.Set(kX + 7, kY + 16, uint8_t(colour));
        rig.Lay(0);
        BonusStep(g);
        EXPECT_EQ(g.Bonus.collector, collector) << "colour " << colour;
    }
}

TEST(BonusScan, FirstScanToFindATankDecides) {
    Field rig;
    Game& g = rig.g();
    // Column x (third scan) holds player 1, row y + 16 (second scan) player 2.
    g.FrameScreen.Set(kX, kY + 5, 133);
    g.FrameScreen.Set(kX + 5, kY + 16, 197);
    rig.Lay(0);
    BonusStep(g);
    EXPECT_EQ(g.Bonus.collector, 2);
    EXPECT_EQ(g.Player(2).score, 500);
    EXPECT_EQ(g.Player(1).score, 0);

    // Within a scan the first pixel decides.
    FillScreen(g.FrameScreen, 0);
    g.FrameScreen.Set(kX + 3, kY, 140);
    g.FrameScreen.Set(kX + 10, kY, 200);
    rig.Lay(0);
    BonusStep(g);
    EXPECT_EQ(g.Bonus.collector, 1);
}

TEST(TakeBonus, EachKindPays500WithItsSound) {
    struct Case {
        uint8_t kind;
        int sound;  // -1: none of its own
    };
    for (Case c : {Case{0, sfxBonusTaken}, Case{1, sfxExtraLife}, Case{2, sfxBonusTaken},
                   Case{3, sfxBonusTaken}, Case{4, -1}, Case{5, sfxBonusTaken}}) {
        Field rig;
        Game& g = rig.g();
        g.Player(2).score = 1200;
        g.FrameScreen.Set(kX, kY, 197);
        rig.Lay(c.kind);
        BonusStep(g);
        EXPECT_FALSE(g.Bonus.active);
        EXPECT_EQ(g.Player(2).score, 1700) << "kind " << int(c.kind);
        EXPECT_EQ(g.Player(1).score, 0);
        EXPECT_EQ(g.soundsPlayed[sfxBonusTaken], c.sound == sfxBonusTaken ? 1u : 0u);
        EXPECT_EQ(g.soundsPlayed[sfxExtraLife], c.sound == sfxExtraLife ? 1u : 0u);
        EXPECT_EQ(g.BaseFortification.active, c.kind == 3);
        // Drawn in the frame in which it is taken, over the tank.
        EXPECT_EQ(g.FrameScreen.At(kX, kY), 220 + c.kind);
        FillScreen(g.FrameScreen, 0);
        BonusStep(g);
        EXPECT_EQ(g.FrameScreen.At(kX + 8, kY + 8), 0);
    }
}

TEST(TakeBonus, UpgradeStopsAtLevelThreeAndExtraLifeAt255) {
    Field rig;
    Game& g = rig.g();
    PlayerTank& p = g.Player(1);
    p.lives = 2;
    p.level = 2;
    auto take = [&](uint8_t kind) {
        FillScreen(g.FrameScreen, 0);
        g.FrameScreen.Set(kX + 3, kY, 133);
        rig.Lay(kind);
        BonusStep(g);
        ASSERT_FALSE(g.Bonus.active);
    };
    take(0);
    EXPECT_EQ(p.level, 3);
    const PlayerTank before = p;
    take(0);  // at level 3: only the points
    EXPECT_EQ(p.level, 3);
    EXPECT_EQ(p.score, before.score + 500);
    EXPECT_EQ(p.lives, before.lives);
    EXPECT_EQ(p.shield.active, before.shield.active);
    EXPECT_FALSE(g.BaseFortification.active);

    p.lives = 254;
    take(1);
    EXPECT_EQ(p.lives, 255);
    take(1);
    EXPECT_EQ(p.lives, 255);
    EXPECT_EQ(p.score, before.score + 1500);
    EXPECT_EQ(g.soundsPlayed[sfxExtraLife], 2u);

    // Points that would overflow the score trap like any other overflow.
    p.score = std::numeric_limits<int32_t>::max() - 499;
    FillScreen(g.FrameScreen, 0);
    g.FrameScreen.Set(kX + 3, kY, 133);
    rig.Lay(0);
    EXPECT_THROW(BonusStep(g), std::overflow_error);
}

TEST(BonusTimeout, TheLastFrameStillTakesAndDrawsIt) {
    {  // touched in the frame in which it runs out: taken, because the scan comes first
        Field rig;
        Game& g = rig.g();
        rig.Lay(1).endTick = g.GameClock;
        g.FrameScreen.Set(kX + 16, kY + 4, 133);
        BonusStep(g);
        EXPECT_EQ(g.Bonus.collector, 1);
        EXPECT_EQ(g.Player(1).score, 500);
    }
    {  // untouched: drawn for the last time, then gone
        Field rig;
        Game& g = rig.g();
        rig.Lay(2).endTick = g.GameClock + 1;
        BonusStep(g);
        EXPECT_TRUE(g.Bonus.active);
        ++g.GameClock;
        FillScreen(g.FrameScreen, 0);
        BonusStep(g);
        EXPECT_EQ(g.FrameScreen.At(kX + 15, kY + 15), 222);
        EXPECT_FALSE(g.Bonus.active);
        FillScreen(g.FrameScreen, 0);
        g.FrameScreen.Set(kX, kY, 133);
        BonusStep(g);
        EXPECT_EQ(g.Player(1).score, 0);
        EXPECT_EQ(g.FrameScreen.At(kX + 15, kY + 15), 0);
    }
}

TEST(Fortification, SteelForItsTimeThenWholeBrickAgainAndRestartedWhenTakenAgain) {
    Field rig;
    Game& g = rig.g();
    ClickMenu(g, "MStart1Player");
    StartStage(g);
    ScreenBuffer& back = g.BackScreen;
    ASSERT_TRUE(FortificationIs(back, 8));
    const MapGrid map = g.MapGrid;
    const uint8_t base = back.At(120, 188);
    const uint8_t beside = back.At(100, 166);  // the empty half of a brick cell

    FillBackRect(back, 96, 176, 103, 179, 0);  // brick shot away before
    g.GameClock = 3000;
    StartFortification(g);
    EXPECT_TRUE(FortificationIs(back, 20));
    EXPECT_EQ(back.At(120, 188), base);
    EXPECT_EQ(back.At(100, 166), beside);
    EXPECT_EQ(g.MapGrid, map);

    // Steel shot away at full power, then the bonus of kind 3 taken again 1000 ticks on.
    g.GameClock = 4000;
    FortificationStep(g);
    FillBackRect(back, 128, 184, 135, 191, 0);
    FillScreen(g.FrameScreen, 0);
    g.FrameScreen.Set(kX, kY + 16, 130);
    rig.Lay(3);
    BonusStep(g);
    EXPECT_TRUE(FortificationIs(back, 20));
    FillBackRect(back, 112, 172, 127, 179, 0);

    g.GameClock = 3000 + 2160;  // the first time would have run out here
    FortificationStep(g);
    EXPECT_TRUE(g.BaseFortification.active);
    g.GameClock = 4000 + 2159;
    FortificationStep(g);
    EXPECT_EQ(back.At(120, 175), 0);
    ++g.GameClock;
    FortificationStep(g);
    EXPECT_FALSE(g.BaseFortification.active);
    EXPECT_TRUE(FortificationIs(back, 8));  // whole brick, shot-away parts included
    EXPECT_EQ(back.At(120, 188), base);
    EXPECT_EQ(back.At(100, 166), beside);

    // A new stage clears both records.
    StartFortification(g);
    rig.Lay(0);
    SetUpStage(g, false);
    EXPECT_FALSE(g.BaseFortification.active);
    EXPECT_FALSE(g.Bonus.active);
    EXPECT_TRUE(FortificationIs(back, 8));
}
