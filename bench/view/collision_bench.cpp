// Cost of one collision test among the figures of 3 x 3 cells holding 50
// objects each, every figure a 12-polygon hut (a box, a pyramid roof and a
// sign). The reference is the least any polygon test must do: taking every
// vertex of the same figures to world space. Prints the test's cost per
// call and its ratio to the reference.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <utility>
#include <vector>

#include "rate_reporter.h"
#include "render/clump.h"
#include "results.h"
#include "view/collision.h"
#include "world/cell.h"

namespace {

using namespace zk;

constexpr int kPerCell = 50;

RwClump* make_hut(float x, float z) {
    RwClump* c = rw_clump_create();
    c->materials.emplace_back();
    const float s = 0.04f;  // 0.8 m wide
    auto vtx = [&](float vx, float vy, float vz) {
        RwVertex v;
        v.p = {vx * s, vy * s, vz * s};
        c->vertices.push_back(v);
        return static_cast<uint32_t>(c->vertices.size() - 1);
    };
    auto poly = [&](std::vector<uint32_t> v) {
        RwPolygon p;
        p.v = std::move(v);
        c->polygons.push_back(p);
    };
    uint32_t b[8];
    for (int i = 0; i < 8; ++i) b[i] = vtx((i & 1) ? 1 : -1, (i & 2) ? 2 : 0, (i & 4) ? 1 : -1);
    poly({b[0], b[2], b[3], b[1]});
    poly({b[4], b[5], b[7], b[6]});
    poly({b[0], b[1], b[5], b[4]});
    poly({b[2], b[6], b[7], b[3]});
    poly({b[0], b[4], b[6], b[2]});
    poly({b[1], b[3], b[7], b[5]});
    const uint32_t top = vtx(0, 3, 0);
    poly({b[2], top, b[3]});
    poly({b[3], top, b[7]});
    poly({b[7], top, b[6]});
    poly({b[6], top, b[2]});
    const uint32_t s0 = vtx(-0.5f, 0.5f, -1.05f), s1 = vtx(-0.5f, 1.5f, -1.05f), s2 = vtx(0.5f, 1.5f, -1.05f),
                   s3 = vtx(0.5f, 0.5f, -1.05f);
    poly({s0, s1, s2, s3});
    poly({s3, s2, s1, s0});
    rw_clump_transform(c, matrix_translation(x, 0, z));
    return c;
}

struct World {
    std::vector<object> objects;
    std::vector<RwClump*> clumps;
    std::vector<CollisionItem> items;  // in cell order, as the test gathers them
    World() {
        objects.resize(9 * kPerCell);
        for (int cz = 0; cz < 3; ++cz)
            for (int cx = 0; cx < 3; ++cx)
                for (int i = 0; i < kPerCell; ++i) {
                    // A 7 x 7 grid with one more in a corner; the cell centres
                    // stay free for the user.
                    const int gx = i % 7, gz = i / 7;
                    const float x = cx + 0.07f + gx * 0.14f, z = cz + 0.07f + gz * 0.14f;
                    clumps.push_back(make_hut(x, z));
                }
        for (size_t i = 0; i < clumps.size(); ++i) items.push_back({&objects[i], clumps[i]});
    }
    ~World() {
        for (RwClump* c : clumps) rw_clump_destroy(c);
    }
};

World& world() {
    static World w;
    return w;
}

void BM_CollisionFree(benchmark::State& state) {
    World& w = world();
    int blocked = 0;
    // Between two huts: every figure is looked at, none stops the user.
    for (auto _ : state) {
        blocked += collision_test_items(w.items.data(), w.items.size(), 1.14, 0.0, 1.14, {0, -0.2f, 0.2f}, 0.2f);
    }
    if (blocked) state.SkipWithError("the free spot was blocked");
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CollisionFree);

void BM_CollisionThroughCells(benchmark::State& state) {
    // The same, with the nine cells asked for their figures each time.
    static World* w = &world();
    collision_hooks().cell_items = [](int x, int z, std::vector<CollisionItem>* out) {
        if (x < 0 || x > 2 || z < 0 || z > 2) return;
        const size_t first = static_cast<size_t>((z * 3 + x) * kPerCell);
        out->insert(out->end(), w->items.begin() + first, w->items.begin() + first + kPerCell);
    };
    int blocked = 0;
    for (auto _ : state) blocked += collision_test(1.14, 0.0, 1.14, {0, -0.2f, 0.2f});
    collision_hooks().cell_items = nullptr;
    if (blocked) state.SkipWithError("the free spot was blocked");
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CollisionThroughCells);

void BM_CollisionBlocked(benchmark::State& state) {
    World& w = world();
    // Walking into the first hut of the middle cell.
    int blocked = 0;
    for (auto _ : state) {
        blocked += collision_test_items(w.items.data(), w.items.size(), 1.07, 0.0, 1.07 - 0.04 - 0.024, {0, 0, 0.2f},
                                        0.2f);
    }
    if (blocked != static_cast<int>(state.iterations())) state.SkipWithError("the hut did not block");
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CollisionBlocked);

void BM_TransformOnly(benchmark::State& state) {
    World& w = world();
    for (auto _ : state) {
        float sum = 0;
        for (const CollisionItem& it : w.items) {
            const RwMatrix m = rw_clump_world_matrix(it.clump);
            for (const RwVertex& v : it.clump->vertices) sum += transform_point(m, v.p).y;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TransformOnly);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double free = reporter.rate("BM_CollisionFree", "items_per_second", true);
    const double cells = reporter.rate("BM_CollisionThroughCells", "items_per_second", true);
    const double blocked = reporter.rate("BM_CollisionBlocked", "items_per_second", true);
    const double reference = reporter.rate("BM_TransformOnly", "items_per_second", true);
    if (free > 0 && reference > 0) {
        std::printf("\n%d figures of 12 polygons in 3 x 3 cells\n", 9 * kPerCell);
        std::printf("collision test, free spot:      %8.1f us per call, %.2f x the reference\n", 1e6 / free,
                    reference / free);
        if (cells > 0) std::printf("  with the cells gathered:      %8.1f us per call\n", 1e6 / cells);
        if (blocked > 0) std::printf("collision test, into a hut:     %8.1f us per call\n", 1e6 / blocked);
        std::printf("reference, vertices to world:   %8.1f us per call\n", 1e6 / reference);
        for (auto [figure, rate] : {std::pair{"collision test, free spot", free},
                                    {"collision test, cells gathered", cells}, {"collision test, into a hut", blocked}})
            if (rate > 0) bench_result(figure, 1e6 / rate, "us", "vertices to world", 1e6 / reference);
    }
    benchmark::Shutdown();
    return 0;
}
