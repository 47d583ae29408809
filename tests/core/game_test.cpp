// A game's whole state copied into another: what lets one game be reset and reused.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/flow/main_form.h"
#include "core/game.h"
#include "testkit/testkit.h"

using namespace kdv;

#ifdef KORDAVEL_ROOT
namespace {

void StartDemo(testkit::Rig& rig) {
    rig.InstallDataFrom(std::string(KORDAVEL_ROOT) + "/data");
    ASSERT_TRUE(rig.StartUp());
    ClickMenu(rig.g(), "MDemo");
}

bool Inside(const uint8_t* p, const uint8_t* begin, size_t size) {
    return !std::less<const uint8_t*>()(p, begin) && std::less<const uint8_t*>()(p, begin + size);
}

}  // namespace

// A copy taken in the middle of the shipped demonstration plays on exactly as the original
// would, drawing from its own sprite sheet and font even when the original's are wiped.
TEST(CopyStateFrom, ACopiedDemoPlaysOnFromItsOwnBuffers) {
    testkit::Rig straight, original, copy;
    StartDemo(straight);
    StartDemo(original);
    straight.Tick(300);
    original.Tick(120);

    const Services own = copy.g().io;
    copy.g().CopyStateFrom(original.g());
    static_cast<adapters::VirtualPlatform&>(copy) = original;  // the devices' state too
    EXPECT_EQ(copy.g().io.display, own.display) << "the copy keeps its own services";
    for (const GraphicsEntry& entry : copy.g().GraphicsTable) {
        if (!entry.data) continue;
        EXPECT_TRUE(Inside(entry.data, copy.g().SpriteSheet.data(), copy.g().SpriteSheet.size()) ||
                    Inside(entry.data, copy.g().GameFontBuffer.data(),
                           copy.g().GameFontBuffer.size()));
    }
    original.g().SpriteSheet.fill(0);
    NoteSpriteSheet(original.g());
    original.g().GameFontBuffer.fill(0xFF);

    copy.Tick(180);
    EXPECT_EQ(copy.g().RandSeed, straight.g().RandSeed);
    EXPECT_EQ(copy.g().GameClock, straight.g().GameClock);
    EXPECT_EQ(copy.g().GameState, straight.g().GameState);
    EXPECT_TRUE(copy.g().FrameScreen.Bytes() == straight.g().FrameScreen.Bytes())
        << "the copy drew something else than the game it was copied from would have";
    EXPECT_TRUE(copy.g().BackScreen.Bytes() == straight.g().BackScreen.Bytes());
}
#endif
