// A backdrop picture as the art cache holds it: the input is the cached
// bitmap of the world's backdrop, loaded when the world is entered. What
// loads must come with a half-size copy made of every other pixel; what does
// not load must be deleted, so that the next visit fetches it again.
#include <unistd.h>

#include <cstdint>
#include <string>

#include "art/backdrop.h"
#include "art/database.h"
#include "art/download.h"
#include "core/settings.h"
#include "fuzz_dir.h"
#include "render/raster.h"

namespace {

struct Art : zk::fuzz::FuzzDir {
    Art() : FuzzDir("picture_backdrop") {
        zk::settings_set_directory(path());
        if (!zk::database_init() || !zk::download_init()) __builtin_trap();
        zk::download_set_path("fuzz/objects");
        bmp = zk::art_dir() + "/textures/sky.bmp";
    }
    ~Art() { zk::download_term(); }
    std::string bmp;
};

Art& art() {
    static Art a;
    return a;
}

bool same(const zk::RwRgba& a, const zk::RwRgba& b) { return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zk;
    FILE* f = std::fopen(art().bmp.c_str(), "wb");
    if (!f || (size && std::fwrite(data, 1, size, f) != size)) __builtin_trap();
    std::fclose(f);
    backdrop_set("sky");
    const RwRaster* full = backdrop_full();
    const RwRaster* half = backdrop_half();
    if (full) {
        const bool halvable = full->width >= 2 && full->height >= 2;
        if (halvable != (half != nullptr)) __builtin_trap();
        if (half) {
            if (half->width != full->width / 2 || half->height != full->height / 2 || half->depth != full->depth)
                __builtin_trap();
            for (int y = 0; y < half->height; y += 1 + half->height / 8)
                for (int x = 0; x < half->width; x += 1 + half->width / 8)
                    if (!same(half->pixel(x, y), full->pixel(2 * x, 2 * y))) __builtin_trap();
        }
    } else if (access(art().bmp.c_str(), F_OK) == 0) {
        __builtin_trap();
    }
    backdrop_clear();
    download_reset();
    unlink(art().bmp.c_str());
    return 0;
}
