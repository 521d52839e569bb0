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
    for (int i = 0; i < colours; ++i) {
        f[54 + i * 4] = uint8_t(i * 30);
        f[54 + i * 4 + 1] = uint8_t(i * 20);
        f[54 + i * 4 + 2] = uint8_t(i * 10);
    }
    const size_t base = 54 + colours * 4;
    for (int y = 0; y < h; ++y) {
        const int stored = top_down ? y : h - 1 - y;
        for (int x = 0; x < w; ++x) {
            const int v = (x + y) % colours;
            uint8_t* b = &f[base + stored * row];
            if (bits == 8) b[x] = uint8_t(v);
            else if (bits == 4) b[x / 2] |= uint8_t(v << ((x & 1) ? 0 : 4));
            else b[x / 8] |= uint8_t(v << (7 - x % 8));
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

TEST(Bmp, TrueColourRoundTripsThroughTheWriter) {
    Raster src(rw_raster_create(7, 4, 32));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 7; ++x) {
            uint8_t* p = &src->pixels[(y * 7 + x) * 4];
            p[0] = uint8_t(x * 30); p[1] = uint8_t(y * 60); p[2] = uint8_t(x + y); p[3] = 255;
        }
    auto f = rw_bmp_encode(*src);
    Raster back(rw_bmp_decode(f.data(), f.size()));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->depth, 32);
    EXPECT_EQ(back->pixels, src->pixels);

    Raster pal(rw_raster_create(3, 2, 8));
    pal->palette[1] = {9, 8, 7, 255};
    pal->pixels = {0, 1, 1, 1, 0, 1};
    auto g = rw_bmp_encode(*pal);
    Raster pal_back(rw_bmp_decode(g.data(), g.size()));
    ASSERT_TRUE(pal_back);
    EXPECT_EQ(pal_back->pixels, pal->pixels);
    EXPECT_EQ(pal_back->pixel(1, 0).r, 9);
}

TEST(Bmp, DamagedHeadersAreRefusedWithAReason) {
    auto good = paletted_bmp(8, 8, 8, false);
    int rc = 0;
    // Every truncation fails cleanly.
    for (size_t n = 0; n < good.size(); n += 7) {
        Raster r(rw_bmp_decode(good.data(), n, &rc));
        EXPECT_FALSE(r) << n;
        EXPECT_NE(rc, bmp_ok);
    }
    auto bad = good;
    bad[0] = 'X';
    EXPECT_FALSE(Raster(rw_bmp_decode(bad.data(), bad.size(), &rc)));
    EXPECT_EQ(rc, bmp_not_bitmap);

    bad = good;  // 100000 x 100000 would need 10 GB
    uint32_t huge = 100000;
    std::memcpy(&bad[18], &huge, 4);
    std::memcpy(&bad[22], &huge, 4);
    EXPECT_FALSE(Raster(rw_bmp_decode(bad.data(), bad.size(), &rc)));
    EXPECT_EQ(rc, bmp_too_large);

    bad = good;  // colour count beyond what 8 bits can index
    uint32_t many = 100000;
    std::memcpy(&bad[46], &many, 4);
    EXPECT_FALSE(Raster(rw_bmp_decode(bad.data(), bad.size(), &rc)));

    bad = good;  // pixel offset past the end
    uint32_t off = uint32_t(bad.size());
    std::memcpy(&bad[10], &off, 4);
    EXPECT_FALSE(Raster(rw_bmp_decode(bad.data(), bad.size(), &rc)));
    EXPECT_EQ(rc, bmp_truncated);

    bad = good;  // run-length compression is not read
    bad[30] = 1;
    EXPECT_FALSE(Raster(rw_bmp_decode(bad.data(), bad.size(), &rc)));
    EXPECT_EQ(rc, bmp_unsupported);

    bad = good;  // zero width
    std::memset(&bad[18], 0, 4);
    EXPECT_FALSE(Raster(rw_bmp_decode(bad.data(), bad.size(), &rc)));
    EXPECT_EQ(rc, bmp_bad_header);

    EXPECT_FALSE(Raster(rw_bmp_read("/nonexistent/x.bmp", &rc)));
    EXPECT_EQ(rc, bmp_unreadable);
}

}  // namespace
}  // namespace zk
