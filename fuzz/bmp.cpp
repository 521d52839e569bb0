// Bitmaps: decoded from memory as the texture conversion does, and read
// from the search path as a texture and as a mask, as shapes do. What
// decodes must read the same after being written again.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_dir.h"
#include "render/raster.h"
#include "render/texture.h"

namespace {

zk::fuzz::FuzzDir g_dir("bmp");
const std::string g_file = g_dir.file("input.bmp");

bool same(const zk::RwRaster& a, const zk::RwRaster& b) {
    if (a.width != b.width || a.height != b.height || a.depth != b.depth || a.pixels != b.pixels) return false;
    for (size_t i = 0; i < a.palette.size() && i < b.palette.size(); ++i)
        if (a.palette[i].r != b.palette[i].r || a.palette[i].g != b.palette[i].g || a.palette[i].b != b.palette[i].b)
            return false;
    return a.palette.size() == b.palette.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zk;
    int rc = -1;
    RwRaster* r = rw_bmp_decode(data, size, &rc);
    if ((r != nullptr) != (rc == bmp_ok)) __builtin_trap();
    if (r) {
        const std::vector<uint8_t> again = rw_bmp_encode(*r);
        RwRaster* back = rw_bmp_decode(again.data(), again.size());
        if (!back || !same(*r, *back)) __builtin_trap();
        rw_raster_destroy(back);
    }

    zk::fuzz::fuzz_put(g_file, data, size);
    rw_texture_set_search_path(g_dir.path());
    RwTexture* t = rw_texture_read_named("input");
    RwRaster* mask = rw_raster_read_named("input");
    if ((t != nullptr) != (r != nullptr) || (mask != nullptr) != (r != nullptr)) __builtin_trap();
    if (t) {
        if (t->frames < 1 || rw_texture_frame_height(t) * t->frames != t->raster->height) __builtin_trap();
        // Masking a small texture with it, and it with a small mask.
        RwRaster* small = rw_raster_create(3, 5, 32);
        RwTexture* other = rw_texture_create(rw_raster_duplicate(small));
        if (!rw_texture_mask(other, mask) || !rw_texture_mask(t, small)) __builtin_trap();
        rw_texture_texel(other, 2, 4);
        rw_textures_advance_frames();
        rw_texture_destroy(other);
        rw_raster_destroy(small);
    }
    rw_raster_destroy(mask);
    rw_texture_destroy(t);
    rw_raster_destroy(r);
    rw_texture_set_search_path("");
    unlink(g_file.c_str());
    if (rw_texture_count() != 0) __builtin_trap();
    return 0;
}
