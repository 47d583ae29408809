#pragma once
// The frame timer's own timing: the intervals between ticks as the window saw them.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace app {

struct FrameStats {
    double medianMs = 0, p99Ms = 0, maxMs = 0;
    long late = 0;  // intervals longer than one and a half timer periods
    long intervals = 0;
};

// Nearest-rank percentiles of the intervals (milliseconds).
inline FrameStats SummariseIntervals(std::vector<double> ms, double periodMs) {
    FrameStats stats;
    stats.intervals = long(ms.size());
    if (ms.empty()) return stats;
    std::sort(ms.begin(), ms.end());
    auto rank = [&](double p) {
        size_t index = size_t(p * double(ms.size()) + 0.999999);
        return ms[std::clamp<size_t>(index, 1, ms.size()) - 1];
    };
    stats.medianMs = rank(0.5);
    stats.p99Ms = rank(0.99);
    stats.maxMs = ms.back();
    stats.late =
        long(std::count_if(ms.begin(), ms.end(), [&](double v) { return v > periodMs * 1.5; }));
    return stats;
}

inline std::string FormatFrameStats(const FrameStats& s) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "frame-stats: intervals=%ld median_ms=%.2f p99_ms=%.2f max_ms=%.2f late=%ld\n",
                  s.intervals, s.medianMs, s.p99Ms, s.maxMs, s.late);
    return line;
}

}  // namespace app
