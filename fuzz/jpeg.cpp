// JPEG bytes converted as a downloaded texture is: queued, decoded over
// frames, and a bitmap that comes out must read back as an 8-bit texture of
// bounded size; a failure leaves no file at all.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "art/image.h"
#include "fuzz_dir.h"
#include "render/texture.h"

namespace {

zk::fuzz::FuzzDir g_dir("jpeg");
const std::string g_bmp = g_dir.file("t.bmp");
const std::string g_part = g_bmp + ".part";
// Big pictures cost time, not new paths through the code: a run stays fast.
constexpr int64_t kPixels = 1 << 20;

// A stopped clock: a frame decodes until the job ends, whatever the machine.
uint32_t stopped() { return 0; }

void record(void* data, int status) {
    int* s = static_cast<int*>(data);
    if (*s != -1) __builtin_trap();  // called back twice
    *s = status;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zk;
    image_reset();
    image_set_clock(stopped);
    image_set_pixel_limit(kPixels);
    int status = -1;
    image_convert(data, uint32_t(size), g_bmp, record, &status);
    if (status != -1) __builtin_trap();
    for (int frame = 0; frame < 4 && status == -1; ++frame) image_update();
    if ((status != 0 && status != 1) || image_queued() != 0 || access(g_part.c_str(), F_OK) == 0) __builtin_trap();
    if (status == 0) {
        RwTexture* t = rw_texture_read(g_bmp);
        if (!t || !t->raster || t->raster->depth != 8 || t->raster->width > kImageMaxSide ||
            t->raster->height > kImageMaxSide || int64_t(t->raster->width) * t->raster->height > kPixels)
            __builtin_trap();
        rw_texture_destroy(t);
        unlink(g_bmp.c_str());
    } else if (access(g_bmp.c_str(), F_OK) == 0) {
        __builtin_trap();
    }
    image_set_clock(nullptr);
    image_set_pixel_limit(0);
    return 0;
}
