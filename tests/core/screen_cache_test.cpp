// What the screens note, keep and hold from one tick to the next never shows: random frames of
// drawing (every shipped sprite, the shipped font, the title picture), reads, fills and copies
// on a screen that keeps what it may and on one that drops it all after every step read and
// present the same at every step.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "core/game.h"
#include "testkit/screen_program.h"
#include "testkit/testkit.h"

#ifdef KORDAVEL_ROOT
TEST(ScreenCache, RandomFramesReadAndPresentAsPlainDrawingDoes) {
    testkit::Rig shipped, cached, plain;
    shipped.InstallDataFrom(std::string(KORDAVEL_ROOT) + "/data");
    ASSERT_TRUE(shipped.StartUp());
    testkit::ScreenProgramCounts counts;
    std::vector<uint8_t> program(2500);
    for (unsigned seed = 1; seed <= 40; ++seed) {
        std::mt19937 random(seed);
        for (uint8_t& b : program) b = uint8_t(random());
        cached.g().CopyStateFrom(shipped.g());
        plain.g().CopyStateFrom(shipped.g());
        ASSERT_EQ(testkit::RunScreenProgram(program, cached.g(), plain.g(), &counts), "")
            << "program " << seed;
    }
    // The frames must have exercised what they are to check.
    EXPECT_EQ(counts.sprites.count(), size_t(kdv::kSpriteCount)) << "not every sprite was drawn";
    EXPECT_GT(counts.keptSprites, 100);
    EXPECT_GT(counts.partFills, 100);
    EXPECT_GT(counts.heldSkips, 100);
    std::cout << counts.steps << " steps in " << counts.frames << " ticks; " << counts.keptSprites
              << " sprites kept, " << counts.partFills << " fills in part, " << counts.heldSkips
              << " overlay pieces held\n";
}
#endif
