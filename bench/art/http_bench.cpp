// A 20 MB object over loopback: our client (worker thread, body straight
// into its buffer) against libcurl's own easy transfer and the curl tool
// fetching the same address from the same server in the same run.
#include <curl/curl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "art/http.h"
#include "support/http_server.h"
#include "rate_reporter.h"
#include "results.h"

namespace {

constexpr size_t kSize = 20u * 1000 * 1000;

zk::test::HttpServer& server() {
    static const std::string answer = zk::test::http_response(200, zk::test::pattern_bytes(kSize));
    static zk::test::HttpServer s{[](const zk::test::HttpRequestSeen&, zk::test::HttpConn& conn) { conn.send(answer); }};
    return s;
}

std::string url() { return "http://" + server().host() + "/big.zip"; }

void BM_OurClient(benchmark::State& state) {
    std::string host = server().host();
    for (auto _ : state) {
        zk::http_request* r = zk::http_get(host.c_str(), "big.zip");
        while (zk::http_rc(r) == zk::kHttpInProgress) std::this_thread::sleep_for(std::chrono::microseconds(100));
        if (zk::http_rc(r) != zk::kHttpComplete || zk::http_size(r) != kSize) state.SkipWithError("fetch failed");
        zk::http_done(r);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

size_t discard(char*, size_t size, size_t n, void* total) {
    *static_cast<size_t*>(total) += size * n;
    return size * n;
}

void BM_CurlEasy(benchmark::State& state) {
    CURL* h = curl_easy_init();
    std::string u = url();
    size_t total = 0;
    curl_easy_setopt(h, CURLOPT_URL, u.c_str());
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, discard);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &total);
    for (auto _ : state) {
        total = 0;
        if (curl_easy_perform(h) != CURLE_OK || total != kSize) state.SkipWithError("curl failed");
    }
    curl_easy_cleanup(h);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

// libcurl again, but keeping the body as our client must: in a fresh
// buffer of the announced size.
struct Body {
    char* data = nullptr;
    size_t used = 0;
};

size_t keep(char* p, size_t size, size_t n, void* arg) {
    auto* b = static_cast<Body*>(arg);
    if (!b->data) b->data = static_cast<char*>(std::malloc(kSize));
    if (b->used + size * n > kSize) return 0;
    std::memcpy(b->data + b->used, p, size * n);
    b->used += size * n;
    return size * n;
}

void BM_CurlEasyKeep(benchmark::State& state) {
    CURL* h = curl_easy_init();
    std::string u = url();
    Body body;
    curl_easy_setopt(h, CURLOPT_URL, u.c_str());
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, keep);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);
    for (auto _ : state) {
        body = {};
        if (curl_easy_perform(h) != CURLE_OK || body.used != kSize) state.SkipWithError("curl failed");
        std::free(body.data);
    }
    curl_easy_cleanup(h);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

// The tool, process start included (a few milliseconds of the total).
void BM_CurlTool(benchmark::State& state) {
    std::string command = "curl -s -o /dev/null " + url();
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError("curl tool failed");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

BENCHMARK(BM_OurClient)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CurlEasy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CurlEasyKeep)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CurlTool)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (zk::http_init() != 0) return 1;
    server();
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto compare = [&](const char* theirs, const char* label) {
        reporter.print_byte_ratio("BM_OurClient", theirs, label);
        const double a = reporter.rate("BM_OurClient", "bytes_per_second"),
                     b = reporter.rate(theirs, "bytes_per_second");
        if (a > 0 && b > 0) bench_result("HTTP client, 20 MB over loopback", a / 1e6, "MB/s", label, b / 1e6);
    };
    compare("BM_CurlEasy", "libcurl easy perform");
    compare("BM_CurlEasyKeep", "libcurl, body kept");
    compare("BM_CurlTool", "curl -o /dev/null");
    zk::http_term();
    benchmark::Shutdown();
    return 0;
}
