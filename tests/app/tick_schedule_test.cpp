// The frame timer's grid: ticks keep to whole periods from the start however early or late
// each one ran, and a late tick is counted, not repeated.
#include <gtest/gtest.h>

#include "app/qt/tick_schedule.h"

namespace {

constexpr int64_t kMs = 1'000'000;

TEST(TickSchedule, KeepsToTheGridAndCountsWhatALateTickPassed) {
    app::TickSchedule s(13 * kMs);
    s.Start(1000 * kMs);
    EXPECT_EQ(s.NextDue(), 1000 * kMs);
    // Woken 0.4 ms late, then 0.2 ms early: the grid does not move.
    EXPECT_EQ(s.Ran(1000 * kMs + 400'000), 1013 * kMs);
    EXPECT_EQ(s.Ran(1013 * kMs - 200'000), 1026 * kMs);
    EXPECT_EQ(s.Ran(1026 * kMs), 1039 * kMs);
    EXPECT_EQ(s.Missed(), 0);
    // A paint or a dialog held the loop for 40 ms: one tick runs, three points are missed.
    EXPECT_EQ(s.Ran(1079 * kMs), 1091 * kMs);
    EXPECT_EQ(s.Missed(), 3);
    EXPECT_EQ(s.Ran(1091 * kMs + 1), 1104 * kMs);
    EXPECT_EQ(s.Missed(), 3);
    // Over a long run the ticks average exactly one period.
    app::TickSchedule t(13 * kMs);
    t.Start(0);
    int64_t due = t.NextDue();
    for (int i = 0; i < 10000; ++i) due = t.Ran(due + (i % 7) * 100'000);
    EXPECT_EQ(due, 10000 * 13 * kMs);
    EXPECT_EQ(t.Missed(), 0);
}

}  // namespace
