#pragma once

// The one method behind every figure that compares us with a peer: both sides timed the same
// way, alternately (ours first in every other pair), over enough pairs, printed as the median
// ratio with its range.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Times `work` alone: what a side does before or after it (copies, deleting outputs) is not timed.
inline double timed(const std::function<void()>& work) {
    const auto start = Clock::now();
    work();
    return secondsSince(start);
}

struct Spread {
    double median = 0, low = 0, high = 0;
};

inline Spread spread(std::vector<double> values) {
    if (values.empty()) return {};
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2], values.front(), values.back()};
}

// Both sides' own seconds, pair by pair.
struct Sides {
    std::vector<double> ours, theirs;
};

// Each side returns the seconds of its timed part (see timed()). Gives one ratio a pair:
// our time over theirs, so below 1 is faster than the peer. `sides` gets the seconds too.
inline std::vector<double> timeRatios(int pairs, const std::function<double()>& ours,
                                      const std::function<double()>& theirs, Sides* sides = nullptr) {
    std::vector<double> ratios;
    for (int i = 0; i < pairs; ++i) {
        double mine = 0, peer = 0;
        if (i % 2 == 0) {
            mine = ours();
            peer = theirs();
        } else {
            peer = theirs();
            mine = ours();
        }
        ratios.push_back(mine / peer);
        if (sides) {
            sides->ours.push_back(mine);
            sides->theirs.push_back(peer);
        }
    }
    return ratios;
}

// The peer's time over ours: how many times faster we are (for throughput figures).
inline std::vector<double> speedups(const std::vector<double>& ratios) {
    std::vector<double> inverse;
    for (double r : ratios) inverse.push_back(1.0 / r);
    return inverse;
}

// "name: 2.71 (2.34–2.92)"
inline void print(const char* name, const Spread& s) {
    std::printf("%s: %.2f (%.2f\u2013%.2f)\n", name, s.median, s.low, s.high);
}

// The ratio, then "name_s: ours 0.93 (0.81–1.20), theirs 2.50 (2.31–2.77)": the seconds behind it.
inline void print(const char* name, const std::vector<double>& speedup, const Sides& sides) {
    print(name, spread(speedup));
    const Spread ours = spread(sides.ours), theirs = spread(sides.theirs);
    std::printf("%s_s: ours %.2f (%.2f\u2013%.2f), theirs %.2f (%.2f\u2013%.2f)\n", name, ours.median, ours.low,
                ours.high, theirs.median, theirs.low, theirs.high);
}

}  // namespace bench
