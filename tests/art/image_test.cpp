#include "art/image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "render/texture.h"
#include "support/temp_dir.h"

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's hook (GCC ships no header for it).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                                         void (*)(const volatile void*));
#endif

namespace zk {
namespace {

// The largest single allocation while `g_watch` is on (stays 0 without the
// sanitizer's hooks).
std::atomic<bool> g_watch{false};
std::atomic<size_t> g_largest{0};

void watch(bool on) {
#if defined(__SANITIZE_ADDRESS__)
    [[maybe_unused]] static const int hooked = __sanitizer_install_malloc_and_free_hooks(
        [](const volatile void*, size_t size) {
            if (g_watch && size > g_largest) g_largest = size;
        },
        [](const volatile void*) {});
#endif
    if (on) g_largest = 0;
    g_watch = on;
}

enum class Scans { baseline, progressive, one_per_coefficient };

// `components` samples a pixel (1 grey, 3 RGB, 4 CMYK), top row first.
std::string encode(int w, int h, int components, Scans scans = Scans::baseline) {
    std::vector<uint8_t> s;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < components; ++c)  // gradients that tell the axes and the channels apart
                s.push_back(uint8_t(c == 0 ? 255 * x / (w - 1) : c == 1 ? 255 * y / (h - 1) : 220 - 150 * x / (w - 1)));
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = JDIMENSION(w);
    c.image_height = JDIMENSION(h);
    c.input_components = components;
    c.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 92, TRUE);
    if (scans == Scans::progressive) jpeg_simple_progression(&c);
    std::vector<jpeg_scan_info> script;  // a scan for each coefficient
    for (int i = 0; i < 64; ++i) script.push_back({1, {0}, i, i, 0, 0});
    if (scans == Scans::one_per_coefficient) {
        c.scan_info = script.data();
        c.num_scans = 64;
    }
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = &s[size_t(c.next_scanline) * w * components];
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    std::string out(reinterpret_cast<char*>(buffer), size);
    jpeg_destroy_compress(&c);
    std::free(buffer);
    return out;
}

// The same file claiming another size in its frame header.
std::string resized(int w, int h) {
    std::string j = encode(16, 16, 3);
    const size_t sof = j.find("\xFF\xC0");
    j[sof + 5] = char(h >> 8), j[sof + 6] = char(h), j[sof + 7] = char(w >> 8), j[sof + 8] = char(w);
    return j;
}

using Names = std::vector<std::string>;

std::vector<int> g_calls;  // 1000 * status + tag of each callback, in order
void record(void* data, int status) { g_calls.push_back(status * 1000 + int(reinterpret_cast<intptr_t>(data))); }

uint32_t g_now = 0, g_advance = 0;  // each reading of the clock moves it by g_advance
uint32_t fake_clock() { return g_now += g_advance; }

class ImageTest : public ::testing::Test {
protected:
    void SetUp() override {
        image_reset();
        image_set_clock(fake_clock);
        g_advance = 0;
    }
    void TearDown() override {
        image_reset();
        image_set_clock(nullptr);
    }
    void convert(const std::string& jpeg, const std::string& name, intptr_t tag = 0) {
        image_convert(reinterpret_cast<const uint8_t*>(jpeg.data()), uint32_t(jpeg.size()), dir_.file(name), record,
                      reinterpret_cast<void*>(tag));
    }
    // Frames on a stopped clock until the queue is empty.
    void drain() {
        g_advance = 0;
        for (int i = 0; i < 1000 && image_queued() > 0; ++i) image_update();
    }
    Names files() const {
        Names names;
        for (const auto& e : std::filesystem::directory_iterator(dir_.path())) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
    test::TempDir dir_;
};

// Each is called back once, from a later update: a bitmap the renderer reads
// back, or a failure that leaves no file and ends the frame's decoding.
TEST_F(ImageTest, ConvertsToABitmapTheRendererReadsBackOrFailsLeavingNoFile) {
    const std::string good = encode(64, 64, 3);
    const size_t scan = good.find("\xFF\xDA") + 14, middle = (scan + good.size()) / 2;
    std::string bad_code = good;
    for (size_t i = middle; i < middle + 40; i += 2) bad_code.replace(i, 2, "\xFF\x00", 2);
    struct Case {
        const char* what;
        std::string jpeg;
        int w = 0, h = 0, components = 0;  // of a picture that converts
        const char* name = "t.bmp";
    } cases[] = {
        {"colour", encode(37, 23, 3), 37, 23, 3},
        {"colour, progressive", encode(64, 48, 3, Scans::progressive), 64, 48, 3},
        {"grey", encode(29, 40, 1), 29, 40, 1},
        {"grey, progressive", encode(16, 9, 1, Scans::progressive), 16, 9, 1},
        {"cut in its scan", good.substr(0, middle)},
        {"a code no table has", bad_code},
        {"not a JPEG", std::string(500, 'x')},
        {"empty", ""},
        {"CMYK", encode(16, 16, 4)},
        {"more scans than a picture needs", encode(16, 16, 1, Scans::one_per_coefficient)},
        {"more pixels than allowed", resized(8000, 8000)},
        {"a side too long", resized(8200, 16)},
        {"more bytes than allowed", std::string(kImageMaxBytes + 1, '\0')},  // refused unread: the next one runs
        {"an output that cannot be opened", good, 0, 0, 0, "missing/t.bmp"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_calls.clear();
        convert(c.jpeg, c.name);
        convert(good, "next.bmp", 1);
        EXPECT_TRUE(g_calls.empty());
        watch(true);
        image_update();
        watch(false);
        if (c.w == 0) {
            EXPECT_EQ(g_calls, (c.jpeg.size() > kImageMaxBytes ? std::vector<int>{1000, 1} : std::vector<int>{1000}));
            EXPECT_LT(g_largest, size_t(64 * 1024)) << "nothing allocated for the picture";
        } else {
#if defined(__SANITIZE_ADDRESS__)
            EXPECT_GE(g_largest, size_t(c.w) * c.h) << "the allocation watch sees the picture";
#endif
        }
        drain();
        EXPECT_EQ(g_calls, (std::vector<int>{c.w ? 0 : 1000, 1}));
        EXPECT_EQ(files(), (c.w ? Names{"next.bmp", "t.bmp"} : Names{"next.bmp"}));
        if (c.w) {
            EXPECT_EQ(std::filesystem::file_size(dir_.file("t.bmp")), 14u + 40 + 1024 + size_t((c.w + 3) & ~3) * c.h);
            RwTexture* t = rw_texture_read(dir_.file("t.bmp"));
            ASSERT_TRUE(t && t->raster);
            const RwRaster& r = *t->raster;
            EXPECT_EQ(r.width, c.w);
            EXPECT_EQ(r.height, c.h);
            EXPECT_EQ(r.depth, 8);
            const bool grey = c.components == 1;  // the red gradient alone, in a grey table
            double error = 0;
            for (int y = 0; y < c.h; ++y)
                for (int x = 0; x < c.w; ++x) {
                    const RwRgba p = r.pixel(x, y);
                    const int red = 255 * x / (c.w - 1), green = grey ? red : 255 * y / (c.h - 1),
                              blue = grey ? red : 220 - 150 * x / (c.w - 1);
                    EXPECT_TRUE(!grey || (p.r == p.g && p.g == p.b));
                    error += (std::abs(p.r - red) + std::abs(p.g - green) + std::abs(p.b - blue)) / 3.0;
                }
            EXPECT_LT(error / (c.w * c.h), 8.0);
            rw_texture_destroy(t);
        }
        for (const std::string& f : files()) std::filesystem::remove(dir_.file(f));
    }
}

// A step costs what the clock moves at each reading; the tiny jobs take
// three steps each, so the queue stays in its budget band.
TEST_F(ImageTest, CreditCarriesOverspendingIntoLaterFrames) {
    struct Case {
        int queued;
        uint32_t first_step, second_step;
        int after_first, after_second;
    } cases[] = {
        {5, 100, 30, -30, -20},      // 70 ms budget; then a credit of 40, spent in two steps
        {15, 100, 30, -60, -10},     // 140 ms: two steps; then 80, spent in three
        {25, 300, 40, -90, 0},       // the next frame starts with a credit of 120
        {25, 2000, 40, -1790, -290}, // debt counts up to 500 ms: nothing decoded
    };
    const std::string jpeg = encode(8, 8, 3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.queued);
        image_reset();
        g_calls.clear();
        for (int i = 0; i < c.queued; ++i) convert(jpeg, "t" + std::to_string(i) + ".bmp", i);
        g_advance = c.first_step;
        image_update();
        EXPECT_EQ(image_credit(), c.after_first);
        g_advance = c.second_step;
        image_update();
        EXPECT_EQ(image_credit(), c.after_second);
        drain();
        std::vector<int> in_order(size_t(c.queued));
        std::iota(in_order.begin(), in_order.end(), 0);
        EXPECT_EQ(g_calls, in_order);
        EXPECT_EQ(int(files().size()), c.queued);
        for (const std::string& f : files()) std::filesystem::remove(dir_.file(f));
    }
}

TEST_F(ImageTest, ResetAndTermDropJobsWithoutCallingBack) {
    const std::string jpeg = encode(64, 256, 3);
    for (void (*end)() : {image_reset, image_term}) {
        g_calls.clear();
        for (int i = 0; i < 3; ++i) convert(jpeg, "t" + std::to_string(i) + ".bmp", i);
        g_advance = 10;  // 7 steps: the first job is half decoded
        image_update();
        EXPECT_EQ(files(), Names{"t0.bmp.part"});
        end();
        EXPECT_EQ(image_queued(), 0);
        EXPECT_EQ(files(), Names{});
        convert(jpeg, "after.bmp", 7);
        drain();
        EXPECT_EQ(g_calls, std::vector<int>{7}) << "only the job queued afterwards";
        EXPECT_EQ(files(), Names{"after.bmp"});
        std::filesystem::remove(dir_.file("after.bmp"));
    }
}

}  // namespace
}  // namespace zk
