// Frames per second that the universe receive path decodes: a burst of
// 10,000 mixed replies from a loopback peer, against the very same bytes
// decoded from memory. The difference is what the socket path costs.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "net/peer.h"
#include "net/resolve.h"
#include "net/universe.h"
#include "support/temp_dir.h"
#include "rate_reporter.h"
#include "results.h"

using namespace zk;
using namespace zk::test;

namespace {

constexpr int kFrames = 10000;

const Bytes& burst() {
    static const Bytes bytes = [] {
        Bytes b;
        auto add = [&b](const Bytes& frame) { b.insert(b.end(), frame.begin(), frame.end()); };
        for (int i = 0; i < kFrames; ++i) {
            uint32_t n = static_cast<uint32_t>(i);
            switch (i % 10) {
            case 0: add(reply(0, 9)); break;
            case 1: add(reply(0, 8, Wire().u32(n).str("Citizen" + std::to_string(i)).b)); break;
            case 2: add(reply(0, 12, Wire().str("Someone").u32(n).b)); break;
            case 3: add(reply(0, 13, Wire().u32(n).str("Walker").b)); break;
            case 4: add(reply(0, 3, Wire().u8(0).str("Name").u8(2).str("name@example.net").b)); break;
            case 5: add(reply(0, 10, Wire().u32(n).str("From").str("A telegram of some length").u8(0).b)); break;
            case 6: add(reply(0, 200, Bytes(40, 1))); break;
            case 7: add(reply(0, 7, Wire().str("zk").str("Mars").str("Atlantis").b)); break;
            case 8: add(reply(3, 8, Wire().u32(n).b)); break;
            default: add(reply(0, 4)); break;
            }
        }
        return b;
    }();
    return bytes;
}

void BM_DecodeFromMemory(benchmark::State& state) {
    const Bytes& bytes = burst();
    for (auto _ : state) {
        size_t frames = 0;
        int rc = universe_parse(bytes.data(), bytes.size(), &frames);
        if (rc != 0 || frames != kFrames) state.SkipWithError("decode failed");
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}

void BM_DecodeFromLoopback(benchmark::State& state) {
    TempDir dir;
    ScriptedPeer peer;
    peer.respond([](PeerLink& link, const Request& r) {
        if (r.code == 31) link.send(burst());
    });
    resolve_init();
    universe_settings(dir.path(), "127.0.0.1", peer.port());
    universe_init();
    for (auto _ : state) {
        uint64_t target = universe_frames_received() + kFrames;
        if (universe_get_worlds() != 0) {
            state.SkipWithError("request failed");
            break;
        }
        while (universe_frames_received() < target && universe_connected()) universe_update();
        if (!universe_connected()) {
            state.SkipWithError("connection lost");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(burst().size()));
    universe_term();
    resolve_term();
}

BENCHMARK(BM_DecodeFromMemory)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodeFromLoopback)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double memory = reporter.rate("BM_DecodeFromMemory");
    const double loopback = reporter.rate("BM_DecodeFromLoopback");
    std::printf("burst of %d mixed replies, %zu bytes\n", kFrames, burst().size());
    std::printf("from memory:   %12.0f frames/s\n", memory);
    std::printf("from loopback: %12.0f frames/s\n", loopback);
    if (memory > 0) {
        std::printf("loopback / memory: %.2f\n", loopback / memory);
        bench_result("universe replies from loopback", loopback, "frames/s", "decoded from memory", memory);
    }
    benchmark::Shutdown();
    return 0;
}
