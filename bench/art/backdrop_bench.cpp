// What the backdrop adds to a frame: placing it for the view (every frame,
// on the processor) and drawing a 1024 x 256 picture behind an 800 x 600
// view through the OpenGL device (Mesa's software GL under Xvfb), against
// clearing to the flat colour alone.
#include <epoxy/gl.h>  // before Qt's GL headers

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <chrono>
#include <cstdio>

#include "art/backdrop.h"
#include "render/camera.h"
#include "render/gl/gl_device.h"
#include "results.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start, int n) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count() / n;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    QSurfaceFormat f;
    f.setVersion(3, 3);
    f.setProfile(QSurfaceFormat::CoreProfile);
    QOffscreenSurface surface;
    surface.setFormat(f);
    surface.create();
    QOpenGLContext context;
    context.setFormat(f);
    zk::GlDevice device;
    if (!context.create() || !context.makeCurrent(&surface) || !device.initialize()) {
        std::fprintf(stderr, "no OpenGL 3.3 context\n");
        return 1;
    }
    zk::rw_set_device(&device);
    zk::RwRaster* sky = zk::rw_raster_create(1024, 256, 8);
    for (int i = 0; i < 256; ++i) sky->palette[i] = {uint8_t(i / 2), uint8_t(i * 3 / 4), uint8_t(i), 255};
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 1024; ++x) sky->pixels[size_t(y) * 1024 + x] = uint8_t((x / 8 + y) % 256);
    zk::RwCamera* camera = zk::rw_camera_create(800, 600);
    zk::rw_camera_set_view_window(camera, 1, 0.75f);
    zk::rw_camera_set_background(camera, 0, 0, 0.7f);

    // Placing, as the backdrop task does once a frame while the user turns.
    constexpr int kPlacings = 1000000;
    auto start = Clock::now();
    for (int i = 0; i < kPlacings; ++i) {
        if (i % 1000 == 0) zk::rw_camera_set_matrix(camera, zk::matrix_rotation({0, 1, 0}, float(i / 1000)));
        zk::backdrop_position(camera, camera, 1024, 256);
    }
    const double place_us = ms_since(start, kPlacings) * 1000;

    auto frames = [&](int n) {
        for (int i = 0; i < n; ++i) {
            zk::rw_camera_set_matrix(camera, zk::matrix_rotation({0, 1, 0}, float(i)));
            zk::backdrop_position(camera, camera, 1024, 256);
            zk::rw_camera_begin_update(camera);
            zk::rw_camera_clear(camera);
            zk::rw_camera_end_update(camera);
            glFinish();
        }
    };
    constexpr int kFrames = 300;
    frames(5);  // no backdrop: the flat colour
    start = Clock::now();
    frames(kFrames);
    const double flat_ms = ms_since(start, kFrames);
    zk::rw_camera_set_backdrop(camera, sky);
    frames(5);  // the upload, once
    start = Clock::now();
    frames(kFrames);
    const double backdrop_ms = ms_since(start, kFrames);

    std::printf("placing the backdrop: %.3f us a frame\n", place_us);
    std::printf("800x600 frame with a 1024x256 backdrop: %.3f ms, flat colour %.3f ms (%.2fx)\n", backdrop_ms,
                flat_ms, backdrop_ms / flat_ms);
    bench_result("backdrop placing", place_us, "us", "", 0, "<= 5");
    bench_result("frame with backdrop", backdrop_ms, "ms", "frame with flat colour", flat_ms, "");

    zk::rw_camera_destroy(camera);
    zk::rw_raster_destroy(sky);
    device.release();
    return 0;
}
