// One idle pass of the task table: every update operation with nothing to
// do. It must stay far below a millisecond.
#include <benchmark/benchmark.h>

#include "app/startup.h"
#include "core/tasks.h"

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
