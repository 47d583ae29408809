// What the screens note, keep and hold from one tick to the next never shows: random frames of
// drawing (every shipped sprite, the shipped font, the title picture), reads, fills and copies
// on a screen that keeps what it may and on one that drops it all after every step read and
// present the same at every step.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "core/game.h"
#include "core/screen/graphics_pack.h"
#include "testkit/screen_program.h"
#include "testkit/testkit.h"

using namespace kdv;

#ifdef KORDAVEL_ROOT
namespace {

struct Shipped {
    testkit::Rig shipped, cached, plain;
    Shipped() {
        shipped.InstallDataFrom(std::string(KORDAVEL_ROOT) + "/data");
        started = shipped.StartUp();
        Reset();
    }
    void Reset() {
        cached.g().CopyStateFrom(shipped.g());
        plain.g().CopyStateFrom(shipped.g());
    }
    bool started = false;
};

}  // namespace

TEST(ScreenCache, RandomFramesReadAndPresentAsPlainDrawingDoes) {
    Shipped s;
    ASSERT_TRUE(s.started);
    testkit::ScreenProgramCounts counts;
    std::vector<uint8_t> program(2500);
    for (unsigned seed = 1; seed <= 40; ++seed) {
        std::mt19937 random(seed);
        for (uint8_t& b : program) b = uint8_t(random());
        s.Reset();
        ASSERT_EQ(testkit::RunScreenProgram(program, s.cached.g(), s.plain.g(), &counts), "")
            << "program " << seed;
    }
    // The frames must have exercised what they are to check.
    EXPECT_EQ(counts.sprites.count(), size_t(kSpriteCount)) << "not every sprite was drawn";
    EXPECT_GT(counts.keptSprites, 100);
    EXPECT_GT(counts.partFills, 100);
    EXPECT_GT(counts.heldSkips, 100);
    std::cout << counts.steps << " steps in " << counts.frames << " ticks; " << counts.keptSprites
              << " sprites kept, " << counts.partFills << " fills in part, " << counts.heldSkips
              << " overlay pieces held\n";
}

// A sprite drawn over the held overlay after the frame has shown it draws over the overlay's
// pixels, which the copy would not give: it is not kept for the next tick with them under it.
TEST(ScreenCache, ASpriteDrawnOverTheShownOverlayIsDrawnAgainOverTheBackground) {
    Shipped s;
    ASSERT_TRUE(s.started);
    testkit::ScreenProgramCounts counts;
    testkit::ScreenTwins twins(s.cached.g(), s.plain.g(), counts);
    const std::vector<testkit::ScreenTwins::Piece> overlay = {{100, 100, 0, 0, false}};
    auto copy = [&] {
        twins.Step("copy", [](Game& g) { CopyToFrame(g.FrameScreen, g.BackScreen); });
    };
    auto tank = [&] {
        twins.Step("a tank", [](Game& g) { DrawSprite(g, 106, 104, 40, g.FrameScreen, 0); });
    };
    copy();
    twins.Overlay(overlay);
    twins.Present();
    copy();
    twins.Overlay(overlay);  // held as it was
    tank();
    twins.Present();
    copy();
    tank();
    twins.Overlay(overlay);
    twins.Present();
    EXPECT_EQ(twins.Failure(), "");
    EXPECT_GT(counts.heldSkips, 0);
}
#endif
