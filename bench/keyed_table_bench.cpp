// The keyed table against std::unordered_map with the same keys, at 10^5
// entries; prints the ratio of their rates at the end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/keyed_table.h"
#include "rate_reporter.h"
#include "results.h"

namespace {

constexpr int kEntries = 100000;
// A prime near the entry count, as an owner of a large table would choose.
constexpr uint32_t kBuckets = 100003;

struct Value {
    int a, b, c, d;
};

const std::vector<std::string>& keys() {
    static std::vector<std::string> k = [] {
        std::vector<std::string> v;
        v.reserve(kEntries);
        for (int i = 0; i < kEntries; ++i) v.push_back("models/tree" + std::to_string(i * 7919) + ".rwx");
        return v;
    }();
    return k;
}

void BM_KeyedFind(benchmark::State& state) {
    zk::KeyedTable t(kBuckets, sizeof(Value));
    for (const auto& k : keys()) t.find_or_add(k.data(), k.size());
    size_t i = 0;
    for (auto _ : state) {
        const auto& k = keys()[i++ % kEntries];
        benchmark::DoNotOptimize(t.find(k.data(), k.size()));
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_UnorderedFind(benchmark::State& state) {
    std::unordered_map<std::string, Value> m;
    m.reserve(kEntries);
    for (const auto& k : keys()) m.emplace(k, Value{});
    size_t i = 0;
    for (auto _ : state) {
        const auto& k = keys()[i++ % kEntries];
        benchmark::DoNotOptimize(m.find(k));
    }
    state.SetItemsProcessed(state.iterations());
}

// Fills an empty table with all keys per iteration batch.
void BM_KeyedFindOrAdd(benchmark::State& state) {
    for (auto _ : state) {
        zk::KeyedTable t(kBuckets, sizeof(Value));
        for (const auto& k : keys()) benchmark::DoNotOptimize(t.find_or_add(k.data(), k.size()));
    }
    state.SetItemsProcessed(state.iterations() * kEntries);
}

void BM_UnorderedFindOrAdd(benchmark::State& state) {
    for (auto _ : state) {
        std::unordered_map<std::string, Value> m;
        for (const auto& k : keys()) benchmark::DoNotOptimize(m.try_emplace(k).first);
    }
    state.SetItemsProcessed(state.iterations() * kEntries);
}

BENCHMARK(BM_KeyedFind);
BENCHMARK(BM_UnorderedFind);
BENCHMARK(BM_KeyedFindOrAdd)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnorderedFindOrAdd)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto ratio = [&](const char* ours, const char* theirs, const char* figure, const char* reference) {
        if (reporter.rate(theirs) <= 0) return;
        std::printf("%-28s %.2f x std::unordered_map\n", ours, reporter.rate(ours) / reporter.rate(theirs));
        bench_result(figure, reporter.rate(ours), "keys/s", reference, reporter.rate(theirs));
    };
    ratio("BM_KeyedFind", "BM_UnorderedFind", "keyed table find", "std::unordered_map find");
    ratio("BM_KeyedFindOrAdd", "BM_UnorderedFindOrAdd", "keyed table find_or_add", "std::unordered_map try_emplace");
    benchmark::Shutdown();
    return 0;
}
