// The .rwx shape reader on a shape file, as the model conversion hands it
// over, with a texture and its mask on the search path; a shape that reads
// must survive its stored chunk form, and nothing may outlive the read.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_dir.h"
#include "render/raster.h"
#include "render/rwx.h"
#include "render/stream.h"
#include "render/texture.h"

namespace {

// A private directory for the shape file and two bitmaps ("wood", 4 x 8:
// two frames, and its mask "woodm").
struct Dir : zk::fuzz::FuzzDir {
    Dir() : FuzzDir("rwx") {
        for (int depth : {32, 8}) {
            zk::RwRaster* r = zk::rw_raster_create(4, 8, depth);
            for (size_t i = 0; i < r->pixels.size(); ++i) r->pixels[i] = uint8_t(i * 37);
            std::vector<uint8_t> bmp = zk::rw_bmp_encode(*r);
            zk::fuzz::fuzz_put(file(depth == 32 ? "wood.bmp" : "woodm.bmp"), bmp.data(), bmp.size());
            zk::rw_raster_destroy(r);
        }
    }
} g_dir;

size_t count(zk::RwClump* c, bool polygons) {
    size_t n = 0;
    zk::rw_clump_for_all(c, [&](zk::RwClump* k) {
        n += polygons ? k->polygons.size() : k->vertices.size();
        return true;
    });
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string shape = g_dir.file("zktmp.rwx");
    zk::fuzz::fuzz_put(shape, data, size);
    zk::rw_texture_set_search_path(g_dir.path());
    const int64_t clumps = zk::rw_clump_count();
    std::string why;
    if (zk::RwClump* c = zk::rw_read_shape(shape, &why)) {
        // Written as the chunk store keeps it and read back.
        zk::RwStream* out = zk::rw_stream_open_memory_write();
        if (!zk::rw_stream_write_clump(out, c, 18)) __builtin_trap();
        const std::vector<uint8_t> bytes = zk::rw_stream_bytes(out);
        zk::rw_stream_close(out);
        zk::RwStream* in = zk::rw_stream_open_memory(bytes.data(), bytes.size());
        zk::RwClump* back = zk::rw_stream_read_clump(in);
        zk::rw_stream_close(in);
        if (!back || count(back, false) != count(c, false) || count(back, true) != count(c, true)) __builtin_trap();
        zk::rw_clump_destroy(back);
        zk::rw_clump_destroy(c);
    } else if (why.empty()) {
        __builtin_trap();  // a failure always says why
    }
    zk::rw_texture_set_search_path("");
    if (zk::rw_clump_count() != clumps || zk::rw_texture_count() != 0) __builtin_trap();
    unlink(shape.c_str());
    return 0;
}
