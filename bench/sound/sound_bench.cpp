// The "sound" task each frame with ten ambient sources in range: standing
// still (the nearest source only has its volume and balance set again) and
// walking a circle among them (the nearest changes now and then and its
// loop is read and started again), against the least work any mixer of
// positions does: the nearest of ten points. Then the CPU the mixer thread
// takes while a loop plays, as a share of one core.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <thread>

#include "art/database.h"
#include "art/download.h"
#include "core/settings.h"
#include "rate_reporter.h"
#include "results.h"
#include "server/assets/sounds.h"
#include "sound/sound.h"
#include "support/temp_dir.h"

namespace {

double g_x = 0, g_z = 0;
float g_src[10][2];

void BM_SoundUpdateStill(benchmark::State& state) {
    g_x = g_z = 0;
    for (auto _ : state) zk::sound_update();
    state.SetItemsProcessed(state.iterations());
}

void BM_SoundUpdateWalking(benchmark::State& state) {
    int frame = 0;
    for (auto _ : state) {
        const double a = ++frame * 0.002;  // one round in about 3000 frames
        g_x = 3 * std::cos(a), g_z = 3 * std::sin(a);
        zk::sound_update();
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_ReferenceNearest(benchmark::State& state) {
    for (auto _ : state) {
        double best = 1e10;
        int which = -1;
        for (int i = 0; i < 10; ++i) {
            const double dx = g_src[i][0] - g_x, dz = g_src[i][1] - g_z, d = dx * dx + dz * dz;
            if (d < best) best = d, which = i;
        }
        benchmark::DoNotOptimize(which);
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_SoundUpdateStill);
BENCHMARK(BM_SoundUpdateWalking);
BENCHMARK(BM_ReferenceNearest);

double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    zk::test::TempDir dir;
    zk::settings_set_directory(dir.path());
    zk::test::write_file(dir.file("zelnik.ini"), "");
    if (!zk::database_init() || !zk::download_init()) return 1;
    zk::download_set_path("");
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
    if (zk::sound_init() != 0) return std::printf("no audio driver\n"), 1;
    zk::sound_reset();
    zk::sound_ports().position = [](double* x, double* y, double* z) { *x = g_x, *y = 0, *z = g_z; };
    zk::sound_ports().heading = [] { return 30.0f; };
    const auto sounds = zk::server::demo_sounds();
    std::vector<zk::sound_instance*> made;
    for (int i = 0; i < 10; ++i) {
        const std::string name = "src" + std::to_string(i);
        zk::test::write_file(zk::art_dir() + "/sounds/" + name + ".wav", sounds.at(i % 2 ? "hum.wav" : "fountain.wav"));
        zk::sound_download(name);
        g_src[i][0] = static_cast<float>(3 * std::cos(i * 0.628)), g_src[i][1] = static_cast<float>(3 * std::sin(i * 0.628));
        made.push_back(zk::sound_create(name, g_src[i][0], 0, g_src[i][1]));
    }

    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double still = reporter.rate("BM_SoundUpdateStill"), walking = reporter.rate("BM_SoundUpdateWalking"),
                 ref = reporter.rate("BM_ReferenceNearest");
    if (still > 0 && walking > 0) {
        std::printf("\nsound_update, 10 sources: still %.2f us, walking %.2f us a frame (nearest of ten points %.3f us)\n",
                    1e6 / still, 1e6 / walking, 1e6 / ref);
        bench_result("sound task a frame, 10 sources, still", 1e6 / still, "us", "nearest of ten points", 1e6 / ref);
        bench_result("sound task a frame, 10 sources, walking", 1e6 / walking, "us", "", 0, "<= 1000");
    }
    // The mixer thread alone: the main thread sleeps while the loop plays.
    zk::sound_update();
    const double cpu0 = cpu_seconds();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const double share = (cpu_seconds() - cpu0) / 2 * 100;
    std::printf("mixer thread while a loop plays: %.2f %% of a core\n", share);
    bench_result("mixer thread while a loop plays", share, "% of a core", "", 0, "<= 5");

    for (zk::sound_instance* i : made) zk::sound_destroy(i);
    zk::sound_term();
    zk::download_term();
    return 0;
}
