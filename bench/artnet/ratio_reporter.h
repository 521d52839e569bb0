// Keeps each benchmark's bytes per second so that ratios can be printed
// after the table.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

class RateReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> rate;
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& r : runs) {
            auto it = r.counters.find("bytes_per_second");
            if (it != r.counters.end()) rate[r.run_name.function_name] = it->second;
        }
    }
    void print(const char* ours, const char* theirs, const char* label) {
        if (!rate.count(ours) || !rate.count(theirs) || rate[theirs] <= 0) return;
        std::printf("%-22s %8.1f MB/s   %-26s %8.1f MB/s   ratio %.2f\n", ours, rate[ours] / 1e6, label,
                    rate[theirs] / 1e6, rate[ours] / rate[theirs]);
    }
};
