// Frame time of a scene of 2,000 clumps of a 12-polygon textured model at
// 800 x 600 through the OpenGL device (Mesa's software GL under Xvfb),
// against clearing alone as the reference, and of a neighbourhood of
// 20,000 objects around the viewer. Prints frames per second and draw
// calls per frame.
#include <epoxy/gl.h>  // before Qt's GL headers

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "render/camera.h"
#include "render/gl/gl_device.h"
#include "render/rwx.h"
#include "results.h"

namespace {

// A crate with a pyramid roof and a sign: 6 + 4 + 2 = 12 polygons.
const char* kHut = R"(ClumpBegin
Color 1 1 1
Surface 0.3 0.7 0
Texture planks
Block 1 1 1
Vertex -0.5 0.5 -0.5 UV 0 1
Vertex 0.5 0.5 -0.5 UV 1 1
Vertex 0.5 0.5 0.5 UV 1 0
Vertex -0.5 0.5 0.5 UV 0 0
Vertex 0 1 0 UV 0.5 0.5
Triangle 25 26 29
Triangle 26 27 29
Triangle 27 28 29
Triangle 28 25 29
Vertex -0.3 -0.3 -0.51 UV 0 1
Vertex -0.3 0.3 -0.51 UV 0 0
Vertex 0.3 0.3 -0.51 UV 1 0
Vertex 0.3 -0.3 -0.51 UV 1 1
Quad 30 31 32 33 Tag 100
Quad 33 32 31 30 Tag 100
ClumpEnd
)";

// A neighbourhood as a world server fills it: every cell the viewer loads
// at full range (459 cells) holds its share of 20,000 objects, made of 40
// distinct models (the hut at 40 heights and widths), and the viewer
// stands in the middle at eye height looking north.
constexpr int kNeighbourhoodObjects = 20000;
constexpr int kNeighbourhoodModels = 40;

// The cells the visibility manager loads at its full range of 120 m: every
// cell nearer than 120 m, and 22 of the 28 at exactly 120 m.
std::vector<std::pair<int, int>> neighbourhood_cells() {
    std::vector<std::pair<int, int>> cells;
    for (int z = -12; z <= 12; ++z)
        for (int x = -12; x <= 12; ++x) {
            const int metres = int(10 * std::sqrt(double(x * x + z * z)));
            const bool left_out = (z == 12 && std::abs(x) <= 1) || (x == 12 && std::abs(z) <= 1);
            if (metres < 120 || (metres == 120 && !left_out)) cells.emplace_back(x, z);
        }
    return cells;
}

struct Fixture {
    QOffscreenSurface surface;
    QOpenGLContext context;
    zk::GlDevice device;
    zk::RwScene* scene = nullptr;
    zk::RwScene* neighbourhood = nullptr;
    zk::RwCamera* camera = nullptr;
    zk::RwCamera* viewer = nullptr;
    int cells = 0;
    bool ok = false;

    Fixture() {
        QSurfaceFormat f;
        f.setVersion(3, 3);
        f.setProfile(QSurfaceFormat::CoreProfile);
        surface.setFormat(f);
        surface.create();
        context.setFormat(f);
        if (!context.create() || !context.makeCurrent(&surface) || !device.initialize()) return;
        zk::rw_set_device(&device);
        zk::RwRaster* planks = zk::rw_raster_create(64, 64, 8);
        for (int i = 0; i < 256; ++i) planks->palette[i] = {uint8_t(i), uint8_t(i * 3 / 4), uint8_t(i / 2), 255};
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) planks->pixels[y * 64 + x] = uint8_t((y % 8) * 24 + x % 16);
        zk::RwTexture* tex = zk::rw_texture_create(planks);
        zk::rw_texture_register(tex, "planks");
        zk::RwClump* hut = zk::rw_read_shape_text(kHut);
        if (!hut || hut->polygons.size() != 12) return;
        scene = zk::rw_scene_create();
        zk::rw_scene_add_light(scene, {zk::RwLightKind::directional, 0.8f, {0.3f, -1, 0.5f}});
        for (int i = 0; i < 2000; ++i) {
            zk::RwClump* c = zk::rw_clump_duplicate(hut);
            zk::rw_clump_transform(c, zk::matrix_translation(float(i % 50) * 2 - 50, -1, float(i / 50) * 2 + 3));
            zk::rw_scene_add_clump(scene, c);
        }
        neighbourhood = zk::rw_scene_create();
        zk::rw_scene_add_light(neighbourhood, {zk::RwLightKind::directional, 0.8f, {0.3f, -1, 0.5f}});
        std::vector<zk::RwClump*> models;
        for (int m = 0; m < kNeighbourhoodModels; ++m) {
            zk::RwClump* model = zk::rw_clump_duplicate(hut);
            const float w = 0.06f + 0.004f * float(m % 8), h = 0.05f + 0.01f * float(m / 8);
            for (zk::RwVertex& v : model->vertices) v.p = zk::RwV3{v.p.x * w, v.p.y * h, v.p.z * w};
            zk::rw_clump_changed(model);
            models.push_back(model);
        }
        const auto where = neighbourhood_cells();
        cells = int(where.size());
        for (int i = 0; i < kNeighbourhoodObjects; ++i) {
            const auto [cx, cz] = where[size_t(i) % where.size()];
            const int k = i / int(where.size());  // place within the cell, on a 7 x 7 grid
            zk::RwClump* c = zk::rw_clump_duplicate(models[size_t(i * 7) % models.size()]);
            zk::rw_clump_transform(c, zk::matrix_translation(float(cx) + 0.07f + 0.14f * float(k % 7), 0,
                                                             float(cz) + 0.07f + 0.14f * float(k / 7 % 7)) *
                                          zk::matrix_rotation({0, 1, 0}, float(i % 360)));
            zk::rw_scene_add_clump(neighbourhood, c);
        }
        for (zk::RwClump* m : models) zk::rw_clump_destroy(m);
        zk::rw_clump_destroy(hut);
        zk::rw_texture_destroy(tex);  // the clumps hold it
        viewer = zk::rw_camera_create(800, 600);
        zk::rw_camera_set_view_window(viewer, 0.577f, 0.433f);
        zk::rw_camera_set_background(viewer, 0, 0, 0.7f);
        zk::rw_camera_set_matrix(viewer, zk::matrix_translation(0.5f, 0.17f, 0.5f));
        camera = zk::rw_camera_create(800, 600);
        zk::rw_camera_set_view_window(camera, 1, 0.75f);
        zk::rw_camera_set_background(camera, 0, 0, 0.7f);
        zk::rw_camera_set_matrix(camera, zk::matrix_translation(0, 2, -2) * zk::matrix_rotation({1, 0, 0}, 10));
        ok = true;
    }

    ~Fixture() {
        for (zk::RwScene* s : {scene, neighbourhood}) {
            if (!s) continue;
            while (!s->clumps.empty()) zk::rw_clump_destroy(s->clumps.back());
            zk::rw_scene_destroy(s);
        }
        zk::rw_camera_destroy(camera);
        zk::rw_camera_destroy(viewer);
        if (ok) device.release();
    }

    void frame(bool with_scene) { draw(camera, with_scene ? scene : nullptr); }
    void draw(zk::RwCamera* c, zk::RwScene* s) {
        zk::rw_camera_begin_update(c);
        zk::rw_camera_clear(c);
        if (s) zk::rw_camera_render(c, s);
        zk::rw_camera_end_update(c);
        glFinish();
    }
};

Fixture* g_fixture = nullptr;
double g_scene_ms = 0, g_clear_ms = 0;
int g_draw_calls = 0;

void run(benchmark::State& state, bool with_scene, double& ms) {
    if (!g_fixture || !g_fixture->ok) {
        state.SkipWithError("no OpenGL 3.3 context");
        return;
    }
    g_fixture->frame(with_scene);  // uploads happen once, outside the timing
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) g_fixture->frame(with_scene);
    ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() /
         double(state.iterations());
    if (with_scene) g_draw_calls = g_fixture->device.draw_calls();
    state.counters["fps"] = 1000.0 / ms;
}

void BM_Frame2000Clumps(benchmark::State& state) { run(state, true, g_scene_ms); }
BENCHMARK(BM_Frame2000Clumps)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();

void BM_FrameClearOnly(benchmark::State& state) { run(state, false, g_clear_ms); }

double g_neighbourhood_ms = 0, g_neighbourhood_cpu_ms = 0, g_neighbourhood_walk_ms = 0;
double g_neighbourhood_all_ms = 0;
int g_neighbourhood_draw_calls = 0;

double ms_between(const timespec& a, const timespec& b) {
    return double(b.tv_sec - a.tv_sec) * 1e3 + double(b.tv_nsec - a.tv_nsec) / 1e6;
}

// Wall time per frame; the processor time of this thread per frame (our
// walk of the scene plus Mesa's vertex work and binning on this thread),
// the part of it that the device's own walk takes before its first GL call,
// and that of all threads (Mesa rasterizes on threads of its own).
void BM_FrameNeighbourhood(benchmark::State& state) {
    if (!g_fixture || !g_fixture->ok) {
        state.SkipWithError("no OpenGL 3.3 context");
        return;
    }
    g_fixture->draw(g_fixture->viewer, g_fixture->neighbourhood);
    timespec cpu0{}, cpu1{}, all0{}, all1{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu0);
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &all0);
    double walk_ms = 0;
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        g_fixture->draw(g_fixture->viewer, g_fixture->neighbourhood);
        walk_ms += g_fixture->device.walk_ms();
    }
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu1);
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &all1);
    const double n = double(state.iterations());
    g_neighbourhood_walk_ms = walk_ms / n;
    g_neighbourhood_draw_calls = g_fixture->device.draw_calls();
    g_neighbourhood_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() / n;
    g_neighbourhood_cpu_ms = ms_between(cpu0, cpu1) / n;
    g_neighbourhood_all_ms = ms_between(all0, all1) / n;
    state.counters["fps"] = 1000.0 / g_neighbourhood_ms;
}
BENCHMARK(BM_FrameNeighbourhood)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();
BENCHMARK(BM_FrameClearOnly)->Unit(benchmark::kMillisecond)->MinTime(1)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    Fixture fixture;
    g_fixture = &fixture;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_scene_ms > 0) {
        std::printf("2000 clumps x 12 polygons at 800x600: %.1f ms a frame, %.1f frames/s, %d draw calls a frame\n",
                    g_scene_ms, 1000.0 / g_scene_ms, g_draw_calls);
        if (g_clear_ms > 0)
            std::printf("clear alone: %.2f ms; the scene costs %.1fx a bare frame\n", g_clear_ms, g_scene_ms / g_clear_ms);
        bench_result("2,000 clumps, one frame at 800x600", g_scene_ms, "ms", "clear alone", g_clear_ms);
    }
    if (g_neighbourhood_ms > 0)
        std::printf("%d objects of %d models in %d cells at 800x600: %.1f ms a frame, %.1f frames/s (goal: 30), "
                    "%.1f ms of this thread's processor time a frame, %.2f ms of it before the first GL call, "
                    "%.1f ms of all threads', %d draw calls a frame\n",
                    kNeighbourhoodObjects, kNeighbourhoodModels, fixture.cells, g_neighbourhood_ms,
                    1000.0 / g_neighbourhood_ms, g_neighbourhood_cpu_ms, g_neighbourhood_walk_ms,
                    g_neighbourhood_all_ms, g_neighbourhood_draw_calls);
    if (g_neighbourhood_ms > 0) {
        bench_result("neighbourhood of 20,000 objects at 800x600", 1000.0 / g_neighbourhood_ms, "frames/s", "", 0,
                     ">= 30");
        bench_result("neighbourhood, processor time before the first GL call", g_neighbourhood_walk_ms, "ms",
                     "the frame's processor time on its thread", g_neighbourhood_cpu_ms);
    }
    zk::rw_set_device(nullptr);
    return 0;
}
