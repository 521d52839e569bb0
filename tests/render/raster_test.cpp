#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "render/raster.h"
#include "support/temp_dir.h"

namespace zk {
namespace {

struct RasterFree {
    void operator()(RwRaster* r) const { rw_raster_destroy(r); }
};
using Raster = std::unique_ptr<RwRaster, RasterFree>;

std::vector<uint8_t> paletted_bmp(int w, int h, int bits, bool top_down) {
    // Hand-made file: colour i = (i*10, i*20, i*30); pixel (x, y) = (x + y) mod colours.
    const int colours = 1 << bits;
    const size_t row = ((size_t(w) * bits + 31) / 32) * 4;
    std::vector<uint8_t> f(14 + 40 + colours * 4 + row * h, 0);
    auto p32 = [&](size_t at, uint32_t v) { std::memcpy(&f[at], &v, 4); };
    f[0] = 'B'; f[1] = 'M';
    p32(2, uint32_t(f.size()));
    p32(10, uint32_t(14 + 40 + colours * 4));
    p32(14, 40);
    p32(18, uint32_t(w));
    p32(22, uint32_t(top_down ? -h : h));
    f[26] = 1;
    f[28] = uint8_t(bits);
    for (int i = 0; i < colours; ++i) p32(54 + i * 4, uint8_t(i * 30) | uint8_t(i * 20) << 8 | uint8_t(i * 10) << 16);
    const size_t base = 54 + colours * 4;
    for (int y = 0; y < h; ++y) {
        const int stored = top_down ? y : h - 1 - y;
        for (int x = 0; x < w; ++x) {
            const int v = (x + y) % colours;
            f[base + stored * row + x * bits / 8] |= uint8_t(v << (8 - bits - x * bits % 8));  // leftmost pixel high
        }
    }
    return f;
}

TEST(Bmp, ReadsPalettedDepthsAndBothRowOrders) {
    for (int bits : {1, 4, 8})
        for (bool top_down : {false, true}) {
            auto f = paletted_bmp(5, 3, bits, top_down);  // odd width: padded rows
            int rc = -1;
            Raster r(rw_bmp_decode(f.data(), f.size(), &rc));
            ASSERT_TRUE(r) << bits << " " << top_down << " rc " << rc;
            EXPECT_EQ(r->depth, 8);
            const int colours = 1 << bits;
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < 5; ++x) {
                    const int v = (x + y) % colours;
                    RwRgba c = r->pixel(x, y);
                    EXPECT_EQ(c.r, uint8_t(v * 10)) << bits << " " << x << "," << y;
                    EXPECT_EQ(c.b, uint8_t(v * 30));
                }
        }
}

TEST(Bmp, DamagedHeadersAreRefusedWithAReason) {
    const auto good = paletted_bmp(8, 8, 8, false);
    int rc = 0;
    // Every truncation fails cleanly.
    for (size_t n = 0; n < good.size(); n += 7) {
        EXPECT_FALSE(Raster(rw_bmp_decode(good.data(), n, &rc))) << n;
        EXPECT_NE(rc, bmp_ok);
    }
    struct Case {
        size_t at;  // of a 32-bit field set to `value`
        uint32_t value;
        int rc;
    } cases[] = {
        {0, 'X', bmp_not_bitmap},
        {18, 100000, bmp_too_large},  // width: 100000 x 8 pixels
        {18, 0, bmp_bad_header},
        {46, 100000, bmp_bad_header},  // colours beyond what 8 bits can index
        {10, uint32_t(good.size()), bmp_truncated},  // pixels past the end
        {30, 1, bmp_unsupported},  // run-length compression
    };
    for (const Case& c : cases) {
        auto bad = good;
        std::memcpy(&bad[c.at], &c.value, 4);
        EXPECT_FALSE(Raster(rw_bmp_decode(bad.data(), bad.size(), &rc))) << c.at;
        EXPECT_EQ(rc, c.rc) << c.at;
    }
    EXPECT_FALSE(Raster(rw_bmp_read("/nonexistent/x.bmp", &rc)));
    EXPECT_EQ(rc, bmp_unreadable);
}

}  // namespace
}  // namespace zk
