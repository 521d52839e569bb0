// A busy cell (255 objects, about 11 KB of records) loaded into live objects
// and rewritten the way a query reply rewrites it, against the same work on
// the same bytes without the cell cache: decoding from memory, and building
// the entry by hand and storing it with one plain SQLite statement.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "art/database.h"
#include "rate_reporter.h"
#include "results.h"
#include "support/fake_ui.h"
#include "support/temp_dir.h"
#include "world/cell.h"

namespace {

constexpr int kObjects = 255;
constexpr int16_t kCellX = 12, kCellZ = -7;

std::string model_of(int i) { return "building-block-" + std::to_string(i); }

void fill_cell() {
    zk::cell_update_begin(kCellX, kCellZ);
    for (int i = 0; i < kObjects; ++i) {
        zk::cell_element_delete(static_cast<uint8_t>(i));
        zk::cell_element_add(static_cast<uint8_t>(i), 7, 1700000000, static_cast<int16_t>(i * 3), 0,
                             static_cast<int16_t>(-i), static_cast<int16_t>(i * 10), model_of(i), "", "create solid off");
    }
    zk::cell_update_end();
}

void BM_CellLoad(benchmark::State& state) {
    fill_cell();
    for (auto _ : state) {
        zk::cell_start(kCellX, kCellZ);
        zk::object* o = nullptr;
        int n = 0;
        while (zk::cell_next(&o)) {
            ++n;
            zk::object_destroy(o);
        }
        if (n != kObjects) state.SkipWithError("cell lost objects");
    }
    state.SetItemsProcessed(state.iterations() * kObjects);
}

// The same records decoded straight from memory into the same objects.
void BM_ReferenceDecode(benchmark::State& state) {
    fill_cell();
    zk::cell_start(kCellX, kCellZ);
    const std::vector<uint8_t> bytes(zk::cell_work_data(), zk::cell_work_data() + zk::cell_work_length());
    for (auto _ : state) {
        size_t at = 0;
        int n = 0;
        while (at + 20 <= bytes.size()) {
            const uint8_t* r = bytes.data() + at;
            const char* t = reinterpret_cast<const char*>(r + 20);
            auto le = [](const uint8_t* p) { return static_cast<int16_t>(p[0] | (p[1] << 8)); };
            zk::object* o = zk::object_create(kCellX + le(r + 9) / 1000.0, le(r + 11) / 1000.0,
                                              kCellZ + le(r + 13) / 1000.0, static_cast<float>(le(r + 15) / 10.0),
                                              std::string_view(t, r[17]), std::string_view(t + r[17], r[18]),
                                              std::string_view(t + r[17] + r[18], r[19]), r[0], 7, true, 0);
            zk::object_destroy(o);
            at += 20u + r[17] + r[18] + r[19];
            ++n;
        }
        if (n != kObjects) state.SkipWithError("decode lost objects");
    }
    state.SetItemsProcessed(state.iterations() * kObjects);
}

// A reply that replaces every object of the cell.
void BM_CellUpdate(benchmark::State& state) {
    fill_cell();
    for (auto _ : state) {
        zk::cell_update_begin(kCellX, kCellZ);
        for (int i = 0; i < kObjects; ++i) {
            zk::cell_element_delete(static_cast<uint8_t>(i));
            zk::cell_element_add(static_cast<uint8_t>(i), 7, 1700000001, static_cast<int16_t>(i * 3), 0,
                                 static_cast<int16_t>(-i), 0, model_of(i), "", "create solid off");
        }
        if (!zk::cell_update_end()) state.SkipWithError("store failed");
    }
    state.SetItemsProcessed(state.iterations() * kObjects);
}

// The same records appended to a vector and the entry replaced with one
// plain SQLite statement.
void BM_ReferenceUpdate(benchmark::State& state) {
    zk::test::TempDir dir;
    sqlite3* db = nullptr;
    sqlite3_open((dir.path() + "/ref.db").c_str(), &db);
    sqlite3_exec(db, "CREATE TABLE t(key BLOB PRIMARY KEY, body BLOB)", nullptr, nullptr, nullptr);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO t VALUES(?1, ?2)", -1, &s, nullptr);
    const char key[6] = {1, 0, 12, 0, -7, -1};
    std::vector<uint8_t> cell;
    for (auto _ : state) {
        cell.clear();
        for (int i = 0; i < kObjects; ++i) {
            const std::string m = model_of(i), a = "create solid off";
            uint8_t r[20] = {static_cast<uint8_t>(i), 0, 0, 0, 7, 0x65, 0x53, 0xF1, 0x01};
            r[17] = static_cast<uint8_t>(m.size());
            r[19] = static_cast<uint8_t>(a.size());
            cell.insert(cell.end(), r, r + 20);
            cell.insert(cell.end(), m.begin(), m.end());
            cell.insert(cell.end(), a.begin(), a.end());
        }
        sqlite3_bind_blob(s, 1, key, 6, SQLITE_STATIC);
        sqlite3_bind_blob(s, 2, cell.data(), static_cast<int>(cell.size()), SQLITE_STATIC);
        if (sqlite3_step(s) != SQLITE_DONE) state.SkipWithError("reference store failed");
        sqlite3_reset(s);
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
    state.SetItemsProcessed(state.iterations() * kObjects);
}

BENCHMARK(BM_CellLoad)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReferenceDecode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CellUpdate)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReferenceUpdate)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    zk::test::FakeUi ui;
    zk::ui_set_port(&ui);
    zk::test::TempDir dir;
    if (!zk::database_init() || !zk::cell_init() || !zk::cell_open(dir.path() + "/cache/property/zk", false))
        return 1;
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n%-10s %14s %14s %8s %10s\n", "operation", "ours obj/s", "reference", "ratio", "CPU ratio");
    const char* pairs[][3] = {{"load", "BM_CellLoad", "BM_ReferenceDecode"},
                              {"update", "BM_CellUpdate", "BM_ReferenceUpdate"}};
    for (const auto& p : pairs) {
        const double ours = reporter.rate(p[1]), ref = reporter.rate(p[2]);
        const double ours_cpu = reporter.rate(p[1], "items_per_second", true);
        const double ref_cpu = reporter.rate(p[2], "items_per_second", true);
        if (ours <= 0 || ours_cpu <= 0) continue;
        std::printf("%-10s %14.0f %14.0f %7.2fx %9.2fx\n", p[0], ours, ref, ref / ours, ref_cpu / ours_cpu);
        bench_result((std::string("busy cell ") + p[0]).c_str(), ours, "objects/s", "without the cell cache", ref);
    }
    zk::cell_term();
    zk::ui_set_port(nullptr);
    return 0;
}
