// Reading a large authored shape: the .rwx text against the 'CLUM' chunk
// made from it. Prints MB/s of the text and the ratio of the two times (a
// chunk load must be at least ten times faster).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "render/rwx.h"
#include "render/stream.h"
#include "results.h"

namespace {

// A terrain-like model: 64 clumps, each a 40 x 40 grid of quads with UVs,
// colours, surfaces and tags, plus a prototype placed in every clump.
std::string big_model() {
    std::string t = "ModelBegin\nProtoBegin marker\n  Color 1 0.5 0\n  Block 0.1 0.4 0.1\nProtoEnd\nClumpBegin\n";
    char line[160];
    for (int c = 0; c < 64; ++c) {
        t += "  ClumpBegin\n";
        std::snprintf(line, sizeof line, "    Tag %d\n    Color %.3f %.3f %.3f\n    Surface 0.3 0.7 0\n", c,
                      (c % 7) / 7.0, (c % 5) / 5.0, (c % 3) / 3.0);
        t += line;
        std::snprintf(line, sizeof line, "    Translate %d 0 %d\n", (c % 8) * 4, (c / 8) * 4);
        t += line;
        const int n = 41;
        for (int z = 0; z < n; ++z)
            for (int x = 0; x < n; ++x) {
                std::snprintf(line, sizeof line, "    Vertex %.4f %.4f %.4f UV %.4f %.4f\n", x * 0.1, ((x * z) % 13) * 0.01,
                              z * 0.1, x / 40.0, z / 40.0);
                t += line;
            }
        for (int z = 0; z < n - 1; ++z)
            for (int x = 0; x < n - 1; ++x) {
                const int a = z * n + x + 1;
                std::snprintf(line, sizeof line, "    Quad %d %d %d %d%s\n", a, a + 1, a + n + 1, a + n,
                              (x + z) % 17 == 0 ? " Tag 100" : "");
                t += line;
            }
        t += "    ProtoInstance marker\n  ClumpEnd\n";
    }
    t += "ClumpEnd\nModelEnd\n";
    return t;
}

const std::string& model() {
    static const std::string m = big_model();
    return m;
}

const std::vector<uint8_t>& chunk() {
    static std::vector<uint8_t> bytes = [] {
        zk::RwClump* c = zk::rw_read_shape_text(model());
        zk::RwStream* s = zk::rw_stream_open_memory_write();
        zk::rw_stream_write_clump(s, c, 18);
        std::vector<uint8_t> b = zk::rw_stream_bytes(s);
        zk::rw_stream_close(s);
        zk::rw_clump_destroy(c);
        return b;
    }();
    return bytes;
}

double g_rwx_seconds = 0, g_chunk_seconds = 0;

void BM_ReadRwx(benchmark::State& state) {
    const std::string& text = model();
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        zk::RwClump* c = zk::rw_read_shape_text(text);
        benchmark::DoNotOptimize(c);
        zk::rw_clump_destroy(c);
    }
    g_rwx_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
                    double(state.iterations());
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_ReadRwx)->Unit(benchmark::kMillisecond);

void BM_LoadClumpChunk(benchmark::State& state) {
    const std::vector<uint8_t>& bytes = chunk();
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        zk::RwStream* s = zk::rw_stream_open_memory(bytes.data(), bytes.size());
        zk::RwClump* c = zk::rw_stream_read_clump(s);
        benchmark::DoNotOptimize(c);
        zk::rw_stream_close(s);
        zk::rw_clump_destroy(c);
    }
    g_chunk_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
                      double(state.iterations());
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}
BENCHMARK(BM_LoadClumpChunk)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_rwx_seconds > 0 && g_chunk_seconds > 0) {
        std::printf("model: %.1f MB of text, %.1f MB of chunk\n", model().size() / 1e6, chunk().size() / 1e6);
        std::printf(".rwx parse: %.1f MB/s (%.2f ms)\n", model().size() / 1e6 / g_rwx_seconds, g_rwx_seconds * 1e3);
        std::printf("chunk load: %.2f ms\n", g_chunk_seconds * 1e3);
        const double ratio = g_rwx_seconds / g_chunk_seconds;
        std::printf("ratio .rwx / chunk: %.1fx (%s the 10x goal)\n", ratio, ratio >= 10 ? "meets" : "MISSES");
        bench_result("large shape from its CLUM chunk", g_chunk_seconds * 1e3, "ms", "from its .rwx text",
                     g_rwx_seconds * 1e3, "ratio <= 0.1");
    }
    return 0;
}
