#include "art/backdrop.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "art/download.h"
#include "art/files.h"
#include "art/image.h"
#include "core/log.h"
#include "render/camera.h"
#include "render/raster.h"
#include "render/texture.h"
#include "view/camera.h"

namespace zk {

namespace {

// A world's name for its backdrop becomes a file name.
constexpr size_t kNameLimit = 64;

struct State {
    std::string name;
    uintptr_t request = 0;  // bumped by every new name: older replies are stale
    RwRaster* full = nullptr;
    RwRaster* half = nullptr;
};
State g;
BackdropHooks g_hooks;

std::string bmp_path() { return art_dir() + "/textures/" + g.name + ".bmp"; }

void drop() {
    camera_set_backdrops(nullptr, nullptr);
    rw_raster_destroy(g.full);
    rw_raster_destroy(g.half);
    g.full = g.half = nullptr;
}

// Every other pixel of every other row: cheap, and the half-size camera
// only shows it while the view turns.
RwRaster* half_of(const RwRaster& full) {
    RwRaster* half = rw_raster_create(full.width / 2, full.height / 2, full.depth);
    if (!half) return nullptr;
    half->palette = full.palette;
    const size_t bytes = size_t(full.depth / 8);
    for (int y = 0; y < half->height; ++y) {
        const uint8_t* from = full.pixels.data() + size_t(2 * y) * size_t(full.stride());
        uint8_t* to = half->pixels.data() + size_t(y) * size_t(half->stride());
        for (int x = 0; x < half->width; ++x) std::memcpy(to + x * bytes, from + 2 * x * bytes, bytes);
    }
    rw_raster_touched(half);
    return half;
}

void load() {
    drop();
    const std::string path = bmp_path();
    g.full = rw_bmp_read(path);
    if (!g.full) {
        // Whatever is there cannot be shown: the next visit fetches it again.
        file_delete(path);
        return;
    }
    g.half = half_of(*g.full);
    camera_set_backdrops(g.full, g.half);
}

void converted(void* data, int) {
    if (reinterpret_cast<uintptr_t>(data) == g.request) load();
}

void fetched(void* data, int result, const uint8_t* buffer, uint32_t size) {
    if (result != kDownloadFetched || reinterpret_cast<uintptr_t>(data) != g.request) return;
    image_convert(buffer, size, bmp_path(), converted, data);
}

}  // namespace

BackdropHooks& backdrop_hooks() { return g_hooks; }

void backdrop_set(const std::string& name) {
    if (name == g.name) return;
    backdrop_clear();
    if (name.empty()) return;
    if (log_on(Trace::trace)) log_write("backdrop_set (%s)", name.c_str());
    if (name.size() > kNameLimit || !rw_name_is_safe(name)) return;
    g.name = name;
    void* data = reinterpret_cast<void*>(++g.request);
    download* d = download_file("textures", name + ".jpg", kDownloadTexture, fetched, data);
    if (file_exists(bmp_path()) == 1) {
        file_touch(bmp_path());
        load();
    } else {
        download_force(d);
    }
}

void backdrop_clear() {
    if (log_on(Trace::trace)) log_write("backdrop_clear");
    drop();
    g.name.clear();
}

void backdrop_new_camera() { camera_set_backdrops(g.full, g.half); }

void backdrop_position(const RwCamera* main, RwCamera* shown, int width, int height) {
    if (!main || !shown || width <= 0 || height <= 0) return;
    const RwV3 look = rw_camera_look_at(main);
    // The heading: 0 looking along +z, a full turn 2 pi.
    double hx = look.x, hz = look.z;
    const double length = std::sqrt(hx * hx + hz * hz);
    if (length > 0) hx /= length, hz /= length;
    else hz = 1;
    double a = std::acos(std::clamp(hz, -1.0, 1.0));
    if (hx < 0) a = 2 * std::numbers::pi - a;
    int x = -int(double(width) * a * (0.5 / std::numbers::pi));
    // The horizon, nine tenths down the picture, stays level with the scene's.
    const double y = std::clamp(double(look.y), -0.999, 0.999);
    const int vh = main->viewport.height;
    const double wh = main->window_h > 0 ? main->window_h : 1;
    int top = int(vh / 2 - 0.9 * height + 0.5 * vh * (y / std::sqrt(1 - y * y)) / wh);
    int shown_height = height;
    if (shown != main) x /= 2, top /= 2, shown_height /= 2;
    rw_camera_set_backdrop_offset(shown, x, 0);
    rw_camera_set_backdrop_rect(shown, 0, top, shown->viewport.width, shown_height);
}

void backdrop_update() {
    camera_decide_half_size(g_hooks.turning && g_hooks.turning());
    if (!g.full) return;
    backdrop_position(camera_main(), camera_current(), g.full->width, g.full->height);
}

const RwRaster* backdrop_full() { return g.full; }
const RwRaster* backdrop_half() { return g.half; }

}  // namespace zk
