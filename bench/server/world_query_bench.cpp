// Neighbourhood queries a world server answers over loopback for 3 x 3
// sectors holding 2,000 objects: a browser with an empty cache (all of it,
// in as many replies as it takes) and one holding current timestamps.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "rate_reporter.h"
#include "results.h"
#include "server/world_server.h"
#include "server/world_store.h"
#include "support/server_harness.h"
#include "support/temp_dir.h"

namespace {

void p16(std::string& s, int v) {
    s.push_back(static_cast<char>((v >> 8) & 255));
    s.push_back(static_cast<char>(v & 255));
}
void p32(std::string& s, uint32_t v) {
    p16(s, static_cast<int>(v >> 16));
    p16(s, static_cast<int>(v & 0xFFFF));
}

std::string query(const std::vector<uint32_t>& held) {
    std::string m(1, 3);
    m.append(3, '\0');
    p16(m, 0);
    p16(m, 0);
    for (uint32_t h : held) p32(m, h);
    p32(m, 0);
    return m;
}

struct World {
    zk::test::TempDir dir;
    zk::server::WorldStore store;
    std::unique_ptr<zk::server::WorldServer> server;
    std::unique_ptr<zk::test::ServiceThread> thread;
    std::unique_ptr<zk::test::Client> client;

    World() {
        store.open(dir.file("bench.db"));
        store.begin();
        for (int i = 0; i < 2000; ++i) {
            zk::server::WorldObject o;
            o.owner = 1;
            o.x = static_cast<int16_t>(i % 1000);
            o.z = static_cast<int16_t>(i * 7 % 1000);
            o.model = "tree" + std::to_string(i % 12);
            o.description = "bench object";
            const int cell = i % 324;  // the 18 x 18 cells of sectors -1..1
            store.add(static_cast<int16_t>(cell % 18 - 9), static_cast<int16_t>(cell / 18 - 9), o);
        }
        store.commit();
        server = std::make_unique<zk::server::WorldServer>(store, zk::server::WorldConfig{});
        server->listen_on("127.0.0.1", 0);
        thread = std::make_unique<zk::test::ServiceThread>(std::vector<zk::server::Service*>{server.get()});
        client = std::make_unique<zk::test::Client>(server->port());
    }

    std::string call(const std::string& request) {
        client->send_bytes(request);
        std::string head, body;
        client->read_exact(head, 2);
        size_t n = (size_t{static_cast<uint8_t>(head[0])} << 8) | static_cast<uint8_t>(head[1]);
        if (n) client->read_exact(body, n);
        return body;
    }

    // Asks until nothing more comes; answers the timestamps held and counts replies.
    std::vector<uint32_t> fetch_all(int& replies) {
        std::vector<uint32_t> held(9, 0);
        replies = 0;
        for (;;) {
            std::string body = call(query(held));
            if (body.empty()) return held;
            ++replies;
            for (size_t at = 0; at < body.size();) {
                const auto* p = reinterpret_cast<const uint8_t*>(body.data()) + at;
                switch (p[0]) {
                case 0: at += 5; break;
                case 1: at += 1; break;
                case 2: at += 21 + p[18] + p[19] + p[20]; break;
                case 3: at += 2; break;
                case 4: {
                    int sx = static_cast<int16_t>((p[1] << 8) | p[2]), sz = static_cast<int16_t>((p[3] << 8) | p[4]);
                    held[(sz + 1) * 3 + sx + 1] = (uint32_t{p[5]} << 24) | (uint32_t{p[6]} << 16) | (uint32_t{p[7]} << 8) | p[8];
                    at += 9;
                    break;
                }
                default: at = body.size();
                }
            }
        }
    }
};

World& world() {
    static World w;
    return w;
}

void BM_FullNeighbourhood(benchmark::State& state) {
    int replies = 0;
    for (auto _ : state) world().fetch_all(replies);
    state.counters["replies"] = replies;
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FullNeighbourhood)->Unit(benchmark::kMillisecond);

void BM_CurrentTimestamps(benchmark::State& state) {
    int replies = 0;
    const std::string q = query(world().fetch_all(replies));
    for (auto _ : state) benchmark::DoNotOptimize(world().call(q));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CurrentTimestamps)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    if (const double full = reporter.rate("BM_FullNeighbourhood"); full > 0)
        bench_result("world query, empty cache, all replies", 1e3 / full, "ms");
    if (const double current = reporter.rate("BM_CurrentTimestamps"); current > 0)
        bench_result("world query, timestamps current", 1e6 / current, "us");
    benchmark::Shutdown();
    return 0;
}
