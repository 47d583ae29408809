// The key latch: a tap between two ticks is seen by exactly one of them, a held key by every one.
#include <gtest/gtest.h>

#include "ui/key_latch.h"

namespace {

TEST(KeyLatch, ATapBetweenTwoTicksIsSeenByOneTick) {
    ui::KeyLatch keys;
    keys.Press(32);
    keys.Release(32);
    EXPECT_FALSE(keys.Live(32));
    keys.TakeSnapshot();
    EXPECT_TRUE(keys.Down(32));
    keys.TakeSnapshot();
    EXPECT_FALSE(keys.Down(32));
}

TEST(KeyLatch, AHeldKeyStaysDownUntilReleased) {
    ui::KeyLatch keys;
    keys.Press(38);
    for (int tick = 0; tick < 3; ++tick) {
        keys.TakeSnapshot();
        EXPECT_TRUE(keys.Down(38));
    }
    keys.Release(38);
    EXPECT_TRUE(keys.Down(38));  // the snapshot holds until the next tick
    keys.TakeSnapshot();
    EXPECT_FALSE(keys.Down(38));
}

TEST(KeyLatch, LosingFocusReleasesEveryKey) {
    ui::KeyLatch keys;
    keys.Press(17);
    keys.Press(39);
    keys.TakeSnapshot();
    keys.ReleaseAll();
    EXPECT_FALSE(keys.Live(17));
    keys.TakeSnapshot();
    EXPECT_FALSE(keys.Down(17));
    EXPECT_FALSE(keys.Down(39));
}

TEST(KeyLatch, CodesOutsideTheTableAreNeverDown) {
    ui::KeyLatch keys;
    keys.Press(0);
    keys.Press(-5);
    keys.Press(256);
    keys.TakeSnapshot();
    EXPECT_FALSE(keys.Down(0));
    EXPECT_FALSE(keys.Down(-5));
    EXPECT_FALSE(keys.Down(256));
}

}  // namespace
