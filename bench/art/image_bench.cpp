// JPEG to 8-bit BMP: our frame-sliced converter (image_convert, then
// image_update frame after frame) against `djpeg -bmp -colors 256` of the
// same files in the same run, on (a) the demo worlds' textures and (b) one
// 2048 x 2048 photograph-like picture. Also: the longest single decoding
// step and frame while 50 textures are queued.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "art/image.h"
#include "server/assets/images.h"
#include "support/temp_dir.h"
#include "rate_reporter.h"
#include "results.h"

namespace {

constexpr int kQuality = 85;  // what the asset generator uses

struct Picture {
    std::string jpeg, file;
    int64_t pixels;
};

zk::test::TempDir& dir() {
    static zk::test::TempDir d;
    return d;
}

Picture keep(const zk::server::Image& image, const std::string& name) {
    Picture p{zk::server::jpeg_encode(image, kQuality), dir().file(name + ".jpg"), int64_t(image.width) * image.height};
    zk::test::write_file(p.file, p.jpeg);
    return p;
}

const std::vector<Picture>& demo() {
    static const std::vector<Picture> v = [] {
        std::vector<Picture> out;
        for (const auto& recipe : zk::server::texture_recipes())
            out.push_back(keep(zk::server::make_texture(recipe), std::string(recipe.name)));
        return out;
    }();
    return v;
}

// Smooth gradients and blobs under sensor-like noise.
const std::vector<Picture>& photo() {
    static const std::vector<Picture> v = [] {
        zk::server::Image im;
        im.width = im.height = 2048;
        im.rgb.resize(size_t(im.width) * im.height * 3);
        uint32_t seed = 12345;
        for (int y = 0; y < im.height; ++y)
            for (int x = 0; x < im.width; ++x) {
                const double u = x / 2048.0, v = y / 2048.0;
                const double light = 0.5 + 0.5 * std::sin(u * 7.0 + std::cos(v * 5.0) * 2.0);
                const double sky = std::exp(-((u - 0.3) * (u - 0.3) + (v - 0.25) * (v - 0.25)) * 12.0);
                const double base[3] = {60 + 150 * light * (1 - v), 80 + 120 * sky + 40 * v, 90 + 140 * sky * (1 - u)};
                for (int c = 0; c < 3; ++c) {
                    seed = seed * 1664525u + 1013904223u;
                    const double n = double(seed >> 24) / 255.0 * 24.0 - 12.0;
                    im.rgb[(size_t(y) * im.width + x) * 3 + c] = uint8_t(std::fmin(255.0, std::fmax(0.0, base[c] + n)));
                }
            }
        return std::vector<Picture>{keep(im, "photo")};
    }();
    return v;
}

// "<stem><n>.bmp" in the directory (built by appending: GCC 12 warns
// wrongly about `"literal" + std::string`).
std::string numbered(const char* stem, int n) {
    std::string name = stem;
    name += std::to_string(n);
    name += ".bmp";
    return dir().file(name);
}

int g_pending = 0;
void done(void*, int status) {
    if (status == 0) --g_pending;
}

// Queues the pictures and runs frames until every one is written.
bool convert_all(const std::vector<Picture>& pictures, int copies = 1) {
    g_pending = 0;
    for (int k = 0; k < copies; ++k)
        for (size_t i = 0; i < pictures.size(); ++i, ++g_pending)
            zk::image_convert(reinterpret_cast<const uint8_t*>(pictures[i].jpeg.data()), uint32_t(pictures[i].jpeg.size()),
                              numbered("out", int(i % 64)), done, nullptr);
    while (zk::image_queued() > 0) zk::image_update();
    return g_pending == 0;
}

int64_t pixels(const std::vector<Picture>& pictures) {
    int64_t n = 0;
    for (const Picture& p : pictures) n += p.pixels;
    return n;
}

void ours(benchmark::State& state, const std::vector<Picture>& pictures) {
    for (auto _ : state)
        if (!convert_all(pictures)) state.SkipWithError("conversion failed");
    state.SetItemsProcessed(state.iterations() * pixels(pictures));
}

void djpeg(benchmark::State& state, const std::vector<Picture>& pictures) {
    std::string command;
    for (const Picture& p : pictures) {
        command += "djpeg -bmp -colors 256 -outfile ";
        command += dir().file("djpeg.bmp");
        command += ' ';
        command += p.file;
        command += " && ";
    }
    command += "true";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError("djpeg failed (package libjpeg-turbo-progs)");
    state.SetItemsProcessed(state.iterations() * pixels(pictures));
}

void BM_OursDemo(benchmark::State& state) { ours(state, demo()); }
void BM_DjpegDemo(benchmark::State& state) { djpeg(state, demo()); }
void BM_OursPhoto(benchmark::State& state) { ours(state, photo()); }
void BM_DjpegPhoto(benchmark::State& state) { djpeg(state, photo()); }

// The clock as the converter reads it: at the start of a frame and after
// every step, so the gaps between readings within a frame are the steps.
using Clock = std::chrono::steady_clock;
Clock::time_point g_last{};
double g_longest_step = 0;
uint32_t timing_clock() {
    const Clock::time_point now = Clock::now();
    if (g_last != Clock::time_point{})
        g_longest_step = std::fmax(g_longest_step, std::chrono::duration<double, std::milli>(now - g_last).count());
    g_last = now;
    return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count());
}

// 50 demo textures, and the photograph alone (its first pass is one step).
void longest(benchmark::State& state, const std::vector<Picture>& pictures, int copies) {
    zk::image_set_clock(timing_clock);
    double step = 0, frame = 0;
    for (auto _ : state) {
        g_pending = 0;
        for (int k = 0; k < copies; ++k)
            for (size_t i = 0; i < pictures.size() && g_pending < 50; ++i, ++g_pending)
                zk::image_convert(reinterpret_cast<const uint8_t*>(pictures[i].jpeg.data()),
                                  uint32_t(pictures[i].jpeg.size()), numbered("s", g_pending),
                                  done, nullptr);
        while (zk::image_queued() > 0) {
            g_last = {};
            const Clock::time_point start = Clock::now();
            zk::image_update();
            frame = std::fmax(frame, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
        step = std::fmax(step, g_longest_step);
        if (g_pending != 0) state.SkipWithError("conversion failed");
    }
    zk::image_set_clock(nullptr);
    state.counters["longest_step_ms"] = step;
    state.counters["longest_frame_ms"] = frame;
}

void BM_Steps50Textures(benchmark::State& state) { longest(state, demo(), 4); }
void BM_StepsPhoto(benchmark::State& state) { longest(state, photo(), 1); }

BENCHMARK(BM_OursDemo)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DjpegDemo)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OursPhoto)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DjpegPhoto)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Steps50Textures)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_StepsPhoto)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void print_ratio(const RateReporter& r, const char* ours, const char* theirs, const char* figure) {
    const double a = r.rate(ours), b = r.rate(theirs);
    if (a <= 0 || b <= 0) return;
    std::printf("%-14s %8.2f Mpx/s   %-14s %8.2f Mpx/s   ratio %.2f\n", ours, a / 1e6, theirs, b / 1e6, a / b);
    bench_result(figure, a / 1e6, "Mpx/s", "djpeg -bmp -colors 256", b / 1e6);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::printf("demo: %zu textures, %.2f Mpx; photo: %.2f Mpx, %zu bytes\n", demo().size(), pixels(demo()) / 1e6,
                pixels(photo()) / 1e6, photo()[0].jpeg.size());
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    print_ratio(reporter, "BM_OursDemo", "BM_DjpegDemo", "JPEG to BMP, demo textures");
    print_ratio(reporter, "BM_OursPhoto", "BM_DjpegPhoto", "JPEG to BMP, 2048 x 2048 photo");
    benchmark::Shutdown();
    return 0;
}
