// The summary --frame-stats prints: nearest-rank median and 99th percentile, and late ticks.
#include <gtest/gtest.h>

#include "app/qt/frame_stats.h"

TEST(FrameStats, PercentilesAndLateTicks) {
    std::vector<double> ms(100, 13.0);
    ms[10] = 20.0;  // late: more than one and a half periods
    ms[20] = 19.0;  // not late
    ms[30] = 40.0;
    const app::FrameStats s = app::SummariseIntervals(ms, 13);
    EXPECT_EQ(s.intervals, 100);
    EXPECT_DOUBLE_EQ(s.medianMs, 13.0);
    EXPECT_DOUBLE_EQ(s.p99Ms, 20.0);
    EXPECT_DOUBLE_EQ(s.maxMs, 40.0);
    EXPECT_EQ(s.late, 2);
    EXPECT_EQ(app::SummariseIntervals({}, 13).intervals, 0);
    EXPECT_NE(app::FormatFrameStats(s).find("late=2"), std::string::npos);
}
