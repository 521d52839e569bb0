// Frame time of a scene of 2,000 clumps of a 12-polygon textured model at
// 800 x 600 through the OpenGL device (Mesa's software GL under Xvfb),
// against clearing alone as the reference. Prints frames per second and
// draw calls per frame.
#include <epoxy/gl.h>  // before Qt's GL headers

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <chrono>
#include <cstdio>
#include <string>

#include "render/camera.h"
#include "render/gl/gl_device.h"
#include "render/rwx.h"

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

struct Fixture {
    QOffscreenSurface surface;
    QOpenGLContext context;
    zk::GlDevice device;
    zk::RwScene* scene = nullptr;
    zk::RwCamera* camera = nullptr;
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
        zk::rw_clump_destroy(hut);
        zk::rw_texture_destroy(tex);  // the clumps hold it
        camera = zk::rw_camera_create(800, 600);
        zk::rw_camera_set_view_window(camera, 1, 0.75f);
        zk::rw_camera_set_background(camera, 0, 0, 0.7f);
        zk::rw_camera_set_matrix(camera, zk::matrix_translation(0, 2, -2) * zk::matrix_rotation({1, 0, 0}, 10));
        ok = true;
    }

    ~Fixture() {
        if (scene) {
            while (!scene->clumps.empty()) zk::rw_clump_destroy(scene->clumps.back());
            zk::rw_scene_destroy(scene);
        }
        zk::rw_camera_destroy(camera);
        if (ok) device.release();
    }

    void frame(bool with_scene) {
        zk::rw_camera_begin_update(camera);
        zk::rw_camera_clear(camera);
        if (with_scene) zk::rw_camera_render(camera, scene);
        zk::rw_camera_end_update(camera);
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
    }
    zk::rw_set_device(nullptr);
    return 0;
}
