// 500 small files (4-40 KB) through the download manager from a loopback
// server, against the same 500 fetched by the curl tool three at a time
// (`curl --parallel --parallel-max 3`) from the same server in the same run.
// The manager is driven as the task runner drives it, a pass per frame,
// with frames as fast as the machine allows.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "art/database.h"
#include "art/download.h"
#include "art/http.h"
#include "core/settings.h"
#include "support/http_server.h"
#include "support/temp_dir.h"
#include "rate_reporter.h"
#include "results.h"

namespace {

constexpr int kFiles = 500;

const std::vector<std::string>& answers() {
    static const std::vector<std::string> a = [] {
        std::vector<std::string> v;
        for (int i = 0; i < kFiles; ++i)
            v.push_back(zk::test::http_response(200, zk::test::pattern_bytes(4096 + (i * 7919) % (36 * 1024), i)));
        return v;
    }();
    return a;
}

zk::test::HttpServer& server() {
    static zk::test::HttpServer s{[](const zk::test::HttpRequestSeen& req, zk::test::HttpConn& conn) {
        const size_t at = req.target.rfind('f');
        const int i = at == std::string::npos ? -1 : std::atoi(req.target.c_str() + at + 1);
        conn.send(i >= 0 && i < kFiles ? answers()[i] : zk::test::http_response(404, ""));
    }};
    return s;
}

int g_done = 0, g_results[3] = {};
void count(void*, int result, const uint8_t*, uint32_t) {
    g_done += result == zk::kDownloadFetched;
    if (result >= 0 && result < 3) ++g_results[result];
}

void BM_Manager(benchmark::State& state) {
    for (auto _ : state) {
        g_done = g_results[0] = g_results[1] = g_results[2] = 0;
        for (int i = 0; i < kFiles; ++i) {
            std::string name = "f";
            name += std::to_string(i);  // ("f" + ... trips a false GCC 12 warning at -O2)
            zk::download* d = zk::download_file("models", name, zk::kDownloadModel, count, nullptr);
            zk::download_force(d);  // every run fetches
        }
        while (zk::download_count() > 0) {
            zk::http_update();
            zk::download_update();
            std::this_thread::sleep_for(std::chrono::microseconds(100));  // a frame loop sleeps between passes
        }
        if (g_done != kFiles) {
            std::fprintf(stderr, "failed %d, fetched %d, up to date %d\n", g_results[0], g_results[1], g_results[2]);
            state.SkipWithError("a download failed");
        }
    }
    state.SetItemsProcessed(state.iterations() * kFiles);
}

void BM_CurlParallel(benchmark::State& state) {
    const std::string config = "/tmp/zk-download-bench-" + std::to_string(getpid());
    if (FILE* f = std::fopen(config.c_str(), "w")) {
        for (int i = 0; i < kFiles; ++i)
            std::fprintf(f, "url = \"http://%s/objects/models/f%d\"\noutput = \"/dev/null\"\n", server().host().c_str(), i);
        std::fclose(f);
    }
    const std::string command = "curl -s --no-progress-meter --fail --parallel --parallel-max 3 -K " + config;
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError("curl failed");
    std::remove(config.c_str());
    state.SetItemsProcessed(state.iterations() * kFiles);
}

BENCHMARK(BM_Manager)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CurlParallel)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    zk::test::TempDir dir;
    zk::test::write_file(dir.file("zelnik.ini"), "[proxy]\n");
    zk::settings_set_directory(dir.path());
    if (!zk::database_init() || zk::http_init() != 0 || !zk::download_init()) return 1;
    zk::download_set_path(server().host() + "/objects");
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double ours = reporter.rate("BM_Manager"), curl = reporter.rate("BM_CurlParallel");
    if (ours > 0 && curl > 0) {
        std::printf("download manager %.0f files/s, curl --parallel-max 3 %.0f files/s, ratio %.2f\n", ours, curl,
                    ours / curl);
        bench_result("download manager, 500 files", ours, "files/s", "curl --parallel-max 3", curl);
    }
    zk::download_term();
    zk::http_term();
    benchmark::Shutdown();
    return 0;
}
