// How long a world query waits for its answer while 1,500 login frames (one
// write of about 20 KB) arrive at the universe served by the same loop,
// against the same query on a quiet loop. Each flood meets a fresh universe,
// so its whole allowance of hashes is spent while the query waits.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "rate_reporter.h"
#include "results.h"
#include "server/citizens.h"
#include "server/universe_server.h"
#include "server/world_server.h"
#include "server/world_store.h"
#include "support/server_harness.h"
#include "support/temp_dir.h"

namespace {

using namespace zk;
using Clock = std::chrono::steady_clock;

constexpr int kLogins = 1500;

std::string field(const std::string& s) { return std::string(1, static_cast<char>(s.size())) + s; }

std::string login_flood() {
    std::string frames;
    for (int i = 0; i < kLogins; ++i) {
        const std::string payload = field("Ann") + field(i % 2 ? "pass1" : "guess");
        frames += std::string{0, static_cast<char>(1 + payload.size()), 30} + payload;
    }
    return frames;
}

struct World {
    test::TempDir dir;
    server::Citizens citizens;
    server::WorldStore store;
    std::unique_ptr<server::WorldServer> world;

    World() {
        citizens.open(dir.file("universe.db"));
        citizens.add("Ann", "pass1", "ann@example.org");
        store.open(dir.file("world.db"));
        store.begin();
        for (int i = 0; i < 200; ++i) {
            server::WorldObject o;
            o.owner = 1;
            o.x = static_cast<int16_t>(i * 37 % 1000);
            o.model = "tree" + std::to_string(i % 12);
            store.add(static_cast<int16_t>(i % 6 - 3), static_cast<int16_t>(i / 6 % 6 - 3), o);
        }
        store.commit();
        world = std::make_unique<server::WorldServer>(store, server::WorldConfig{});
        world->listen_on("127.0.0.1", 0);
    }
};

World& world() {
    static World w;
    return w;
}

// One query for sector 0,0 with nothing cached; answers the seconds it took.
double query_seconds(test::Client& browser) {
    std::string q(48, '\0'), head, body;
    q[0] = 3;
    const auto start = Clock::now();
    browser.send_bytes(q);
    browser.read_exact(head, 2);
    const size_t n = (size_t{static_cast<uint8_t>(head[0])} << 8) | static_cast<uint8_t>(head[1]);
    if (n) browser.read_exact(body, n);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void run(benchmark::State& state, bool flood) {
    World& w = world();
    const std::string logins = login_flood();
    for (auto _ : state) {
        server::UniverseServer universe(w.citizens, server::UniverseConfig{});
        universe.listen_on("127.0.0.1", 0);
        auto loop = std::make_unique<test::ServiceThread>(std::vector<server::Service*>{&universe, w.world.get()});
        test::Client browser(w.world->port()), attacker(universe.port());
        if (flood) {
            attacker.send_bytes(logins);
            while (universe.request_count(30) == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        state.SetIterationTime(query_seconds(browser));
        loop.reset();
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_QueryQuiet(benchmark::State& state) { run(state, false); }
void BM_QueryDuringLoginFlood(benchmark::State& state) { run(state, true); }
BENCHMARK(BM_QueryQuiet)->UseManualTime()->Iterations(40)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_QueryDuringLoginFlood)->UseManualTime()->Iterations(40)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    server::server_log_quiet(true);
    benchmark::Initialize(&argc, argv);
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double quiet = reporter.rate("BM_QueryQuiet"), flood = reporter.rate("BM_QueryDuringLoginFlood");
    if (quiet > 0 && flood > 0) {
        std::printf("world query answered in %.3f ms on a quiet loop, %.3f ms while %d login frames arrive\n",
                    1000 / quiet, 1000 / flood, kLogins);
        std::printf("flood / quiet: %.2f\n", quiet / flood);
        bench_result("world query during a login flood", 1000 / flood, "ms", "on a quiet loop", 1000 / quiet);
    }
    benchmark::Shutdown();
    return 0;
}
