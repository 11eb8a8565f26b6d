#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

// Runs the registered benchmarks and keeps each one's real time per iteration (ns), so that
// the program can print its figures as ratios against its peers.
class RatioReporter final : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration || run.aggregate_name == "median")
                times[run.run_name.function_name] = run.GetAdjustedRealTime();
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
