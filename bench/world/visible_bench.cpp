// The work pass loading a whole neighbourhood (458 cells of 20 objects, each
// showing the placeholder) from a real cell cache in one frame, against the
// same cells read straight into live objects with cell_start / cell_next,
// without the loaded-cell table, the per-cell lists or the scene.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "rate_reporter.h"
#include "results.h"
#include "world/visible_env.h"

namespace {

constexpr int kObjects = 20;
constexpr int kCells = zk::visible_range_limit;   // a full pass at the largest range

void BM_VisibleWorkPass(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        zk::visible_reset();
        state.ResumeTiming();
        zk::visible_update();
        if (zk::visible_loaded_count() != kCells) state.SkipWithError("pass did not load the whole range");
    }
    state.SetItemsProcessed(state.iterations() * kCells);
    state.counters["objects"] = double(zk::model_reference_count());
}

void BM_ReferenceCellReads(benchmark::State& state) {
    zk::visible_reset();
    std::vector<zk::object*> objects;
    objects.reserve(kCells * kObjects);
    const zk::VisibleOffset* t = zk::visible_table();
    for (auto _ : state) {
        for (int i = 0; i < kCells; ++i) {
            zk::cell_start(t[i].dx, t[i].dz);
            zk::object* o = nullptr;
            while (zk::cell_next(&o)) objects.push_back(o);
        }
        state.PauseTiming();
        if (objects.size() != size_t(kCells) * kObjects) state.SkipWithError("cells lost objects");
        for (zk::object* o : objects) zk::object_destroy(o);
        objects.clear();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kCells);
}

BENCHMARK(BM_VisibleWorkPass)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReferenceCellReads)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    // The largest range, and loads that never exhaust the budget, so one
    // frame's pass covers the whole table.
    zk::test::VisibleWorld world("[performance]\nvisibility=120\n");
    zk::test::VisibleWorld::fill_around_origin(kObjects);
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double ours = reporter.rate("BM_VisibleWorkPass"), ref = reporter.rate("BM_ReferenceCellReads");
    const double ours_cpu = reporter.rate("BM_VisibleWorkPass", "items_per_second", true);
    const double ref_cpu = reporter.rate("BM_ReferenceCellReads", "items_per_second", true);
    if (ours > 0 && ours_cpu > 0) {
        std::printf("\n%-10s %14s %14s %8s %10s\n", "operation", "ours cells/s", "reference", "ratio", "CPU ratio");
        std::printf("%-10s %14.0f %14.0f %7.2fx %9.2fx\n", "load", ours, ref, ref / ours, ref_cpu / ours_cpu);
        bench_result("visible work pass, whole neighbourhood", ours, "cells/s", "plain cell reads", ref);
    }
    return 0;
}
