// One idle pass of the task table: every update operation with nothing to
// do. It must stay far below a millisecond.
#include <benchmark/benchmark.h>

#include "app/startup.h"
#include "core/tasks.h"
#include "rate_reporter.h"
#include "results.h"

static void BM_IdleTaskPass(benchmark::State& state) {
    zk::startup_bind_hooks();  // the real table, as start-up binds it
    for (auto _ : state) zk::tasks_run();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IdleTaskPass)->Unit(benchmark::kMicrosecond);

static void BM_IdleTimerEvent(benchmark::State& state) {
    zk::startup_bind_hooks();
    for (auto _ : state) benchmark::DoNotOptimize(zk::tasks_timer_event());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IdleTimerEvent)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    if (const double pass = reporter.rate("BM_IdleTaskPass"); pass > 0)
        bench_result("idle task pass", 1e6 / pass, "us", "", 0, "<= 1000");
    if (const double event = reporter.rate("BM_IdleTimerEvent"); event > 0)
        bench_result("idle timer event", 1e6 / event, "us");
    benchmark::Shutdown();
    return 0;
}
