// Extraction of a 20 MB member: our reader (inflate, CRC, file written in
// 32 K pieces) against zlib's own raw inflate of the same deflate data into
// memory, and against gzip -d of the same data as a gzip file.
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "art/zip.h"
#include "server/assets/zip_writer.h"
#include "rate_reporter.h"
#include "results.h"

namespace {

constexpr size_t kSize = 20u * 1000 * 1000;

// Model-like text: compressible, but not trivially.
const std::string& member() {
    static const std::string text = [] {
        std::string s;
        s.reserve(kSize + 64);
        uint32_t x = 12345;
        char line[64];
        while (s.size() < kSize) {
            x = x * 1103515245u + 12345u;
            std::snprintf(line, sizeof line, "Vertex %d.%03u %u.%02u %d\n", int(x >> 28) - 8, (x >> 8) & 1023,
                          (x >> 18) & 255, x & 63, int((x >> 4) & 15));
            s += line;
        }
        s.resize(kSize);
        return s;
    }();
    return text;
}

const std::string& zip_archive() {
    static const std::string a = zk::server::zip_single("model.rwx", member());
    return a;
}

std::string temp_path(const char* name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/" + name + std::to_string(getpid());
}

void BM_ZipExtract(benchmark::State& state) {
    const std::string& a = zip_archive();
    std::string out = temp_path("zk_bench_member");
    for (auto _ : state)
        if (zk::zip_extract(reinterpret_cast<const uint8_t*>(a.data()), a.size(), out) != zk::kZipOk)
            state.SkipWithError("extract failed");
    std::remove(out.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

void BM_ZlibInflate(benchmark::State& state) {
    const std::string& a = zip_archive();
    uint32_t packed = 0;
    std::memcpy(&packed, a.data() + 18, 4);  // little-endian, as is the host
    const std::string raw = a.substr(30 + 9, packed);
    std::string window(32768, '\0');
    for (auto _ : state) {
        z_stream z{};
        inflateInit2(&z, -MAX_WBITS);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data()));
        z.avail_in = static_cast<uInt>(raw.size());
        int rc = Z_OK;
        while (rc == Z_OK) {
            z.next_out = reinterpret_cast<Bytef*>(window.data());
            z.avail_out = static_cast<uInt>(window.size());
            rc = inflate(&z, Z_NO_FLUSH);
            benchmark::DoNotOptimize(window.data());
        }
        if (rc != Z_STREAM_END || z.total_out != kSize) state.SkipWithError("inflate failed");
        inflateEnd(&z);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

void BM_GzipTool(benchmark::State& state) {
    std::string path = temp_path("zk_bench_gz") + ".gz";
    gzFile f = gzopen(path.c_str(), "wb9");  // the zip writer's level
    gzwrite(f, member().data(), static_cast<unsigned>(member().size()));
    gzclose(f);
    std::string command = "gzip -dc " + path + " > /dev/null";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError("gzip failed");
    std::remove(path.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

BENCHMARK(BM_ZipExtract)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ZlibInflate)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GzipTool)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::printf("member %zu bytes, archive %zu bytes\n", kSize, zip_archive().size());
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto compare = [&](const char* theirs, const char* label) {
        reporter.print_byte_ratio("BM_ZipExtract", theirs, label);
        const double a = reporter.rate("BM_ZipExtract", "bytes_per_second"),
                     b = reporter.rate(theirs, "bytes_per_second");
        if (a > 0 && b > 0) bench_result("zip extraction, 20 MB member", a / 1e6, "MB/s", label, b / 1e6);
    };
    compare("BM_ZlibInflate", "zlib inflate to memory");
    compare("BM_GzipTool", "gzip -dc > /dev/null");
    benchmark::Shutdown();
    return 0;
}
