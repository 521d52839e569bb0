// The validation pass that every object creation runs on its action text,
// over a mix of the texts builders write (signs, animations, teleports,
// warps, visibility, quoted texts), against the least work any reader of
// those texts does: a plain split into words. Then a whole neighbourhood
// (20,000 objects in the 459 cells of the widest range) made with their
// create clauses run, against the same objects made without actions.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "rate_reporter.h"
#include "results.h"
#include "world/behavior.h"
#include "world/cell.h"

namespace {

const char* const kTexts[] = {
    "create sign welcome color=red, visible off",
    "create animate me door 3 3 200; activate astart off",
    "activate teleport 40n 50w",
    "activate teleport lagoon 4.5S 12.25E 2.5a 270",
    "bump warp +0 +1",
    "create solid off, visible on; activate visible lid off, solid lid off",
    "create sign \"Welcome to the plaza, traveller; mind the fountain\" color=yellow bcolor=navyblue",
    "create picture http://pictures.example/board.jpg update=300",
    "activate url http://example.com/",
    "create sound birds.wav; bump noise splash.wav",
    "create name lamp, animate me lamp 4 6 100 1 2 3 4 3 2; adone astart off",
    "http://example.com/page.html",
};

std::vector<zk::object*> g_objects;
size_t g_bytes = 0;

void BM_BehaviorCheck(benchmark::State& state) {
    int wrong = 0;
    for (auto _ : state)
        for (zk::object* o : g_objects) wrong += zk::behavior_check(o) == 0;
    // Only the bare address is not a clause.
    if (wrong != static_cast<int>(state.iterations())) state.SkipWithError("a text checked wrongly");
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(g_objects.size()));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(g_bytes));
}

// The same texts copied and split at blanks, commas and semicolons.
void BM_ReferenceSplit(benchmark::State& state) {
    std::vector<std::string_view> words;
    std::string copy;
    for (auto _ : state) {
        for (zk::object* o : g_objects) {
            copy = o->action;
            words.clear();
            size_t start = 0;
            for (size_t i = 0; i <= copy.size(); ++i) {
                const bool cut = i == copy.size() || copy[i] == ' ' || copy[i] == ',' || copy[i] == ';';
                if (!cut) continue;
                if (i > start) words.emplace_back(copy.data() + start, i - start);
                start = i + 1;
            }
            benchmark::DoNotOptimize(words.data());
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(g_objects.size()));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(g_bytes));
}

// Every third object has a create clause, as a busy world has: names,
// signs, solidity, and switches that hide the objects of a name.
constexpr int kNeighbourhood = 20000, kCells = 459;
const char* const kCreates[] = {
    "create name lamp",
    "create sign \"Shop\" color=white bcolor=teal; activate url http://example.com/",
    "create solid off",
    "create visible lamp off; bump visible lamp on",
    "create animate me door 3 3 200",
    "create sign, name board",
};

void make_neighbourhood(benchmark::State& state, bool actions) {
    zk::ObjectHooks& hooks = zk::object_hooks();
    hooks.action_check = actions ? zk::behavior_action_check : nullptr;
    hooks.action_create = actions ? zk::behavior_action_create : nullptr;
    std::vector<zk::object*> made;
    for (auto _ : state) {
        made.clear();
        for (int i = 0; i < kNeighbourhood; ++i) {
            const int cell = i % kCells, k = i / kCells;
            const char* action = i % 3 == 0 ? kCreates[(i / 3) % std::size(kCreates)] : "";
            made.push_back(zk::object_create(cell % 21 + 0.1 * (k % 7), 0, cell / 21 + 0.1 * (k / 7), 0, "hut", "A hut", action,
                              uint8_t(k), uint32_t(1 + cell % 5), true, 1));
        }
        state.PauseTiming();
        for (zk::object* o : made) zk::object_destroy(o);
        state.ResumeTiming();
    }
    hooks.action_check = hooks.action_create = nullptr;
    state.SetItemsProcessed(state.iterations() * kNeighbourhood);
}

void BM_NeighbourhoodWithActions(benchmark::State& state) { make_neighbourhood(state, true); }
void BM_NeighbourhoodWithoutActions(benchmark::State& state) { make_neighbourhood(state, false); }

BENCHMARK(BM_BehaviorCheck);
BENCHMARK(BM_ReferenceSplit);
BENCHMARK(BM_NeighbourhoodWithActions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NeighbourhoodWithoutActions)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    for (const char* text : kTexts) {
        g_objects.push_back(zk::object_create(0, 0, 0, 0, "box", "", text, 1, 7, false, 0));
        g_bytes += std::string_view(text).size();
    }
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double ours = reporter.rate("BM_BehaviorCheck"), ref = reporter.rate("BM_ReferenceSplit");
    if (ours > 0) {
        std::printf("\n%-12s %14s %14s %8s\n", "operation", "ours texts/s", "plain split", "ratio");
        std::printf("%-12s %14.0f %14.0f %7.2fx\n", "check", ours, ref, ref / ours);
        bench_result("action texts checked", ours, "texts/s", "plain split into words", ref);
    }
    const double with = reporter.rate("BM_NeighbourhoodWithActions"),
                 without = reporter.rate("BM_NeighbourhoodWithoutActions");
    if (with > 0 && without > 0) {
        std::printf("%d objects in %d cells made with their create clauses: %.1f ms (without actions %.1f ms)\n",
                    kNeighbourhood, kCells, 1000.0 * kNeighbourhood / with, 1000.0 * kNeighbourhood / without);
        bench_result("neighbourhood of 20,000 objects made, create clauses run", 1000.0 * kNeighbourhood / with,
                     "ms", "the same objects without actions", 1000.0 * kNeighbourhood / without);
    }
    for (zk::object* o : g_objects) zk::object_destroy(o);
    return 0;
}
