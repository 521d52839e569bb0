// A console reporter that keeps each benchmark's rates, so that a benchmark
// program can print its ratios against a reference after the table.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

class RateReporter : public benchmark::ConsoleReporter {
public:
    // A "..._per_second" counter of the benchmark named `name` (its
    // function name, or "function/args"), per second of wall clock, or of
    // processor time when `cpu` (steadier on a shared machine). 0 if absent.
    double rate(const std::string& name, const std::string& counter = "items_per_second", bool cpu = false) const {
        auto it = rates_.find(name);
        if (it == rates_.end()) return 0;
        auto c = it->second.find(counter);
        if (c == it->second.end()) return 0;
        return cpu ? c->second.cpu : c->second.real;
    }

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& r : runs) {
            for (const auto& [counter, value] : r.counters) {
                if (counter.find("_per_second") == std::string::npos) continue;
                // The library divides by processor time unless the benchmark
                // measures real or manual time; derive the other rate from it.
                const double v = value.value, real = r.GetAdjustedRealTime(), cpu = r.GetAdjustedCPUTime();
                const bool per_real = !r.run_name.time_type.empty();
                Rates x{per_real ? v : (real > 0 ? v * cpu / real : 0), per_real ? (cpu > 0 ? v * real / cpu : 0) : v};
                rates_[r.run_name.function_name][counter] = x;
                rates_[r.run_name.function_name + "/" + r.run_name.args][counter] = x;
            }
        }
    }

    // "ours  N MB/s   label  M MB/s   ratio R" of two benchmarks' byte rates;
    // nothing when either did not run.
    void print_byte_ratio(const char* ours, const char* theirs, const char* label) const {
        const double a = rate(ours, "bytes_per_second"), b = rate(theirs, "bytes_per_second");
        if (a <= 0 || b <= 0) return;
        std::printf("%-22s %8.1f MB/s   %-26s %8.1f MB/s   ratio %.2f\n", ours, a / 1e6, label, b / 1e6, a / b);
    }

private:
    struct Rates {
        double real = 0, cpu = 0;
    };
    std::map<std::string, std::map<std::string, Rates>> rates_;
};
