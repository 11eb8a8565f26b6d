#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>

// Runs the registered benchmarks and keeps each one's best real time per iteration (ns) over
// its repetitions, so that the program can print its figures as ratios against its peers. The
// best run is the one the machine disturbed least; with repetitions interleaved, a spell of
// disturbance cannot slow one side of a ratio alone.
class RatioReporter final : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration) {
                auto [it, added] = times.try_emplace(run.run_name.function_name, run.GetAdjustedRealTime());
                if (!added) it->second = std::min(it->second, run.GetAdjustedRealTime());
            }
        ConsoleReporter::ReportRuns(runs);
    }
    double time(const std::string& name) const {
        auto it = times.find(name);
        return it == times.end() ? 0.0 : it->second;
    }

private:
    std::map<std::string, double> times;
};

inline void printFigure(const char* name, double value) { std::printf("%s: %.2f\n", name, value); }
