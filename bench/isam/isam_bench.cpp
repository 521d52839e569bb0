// Storing and fetching 20,000 variable records of 100 to 1,000 bytes through
// the local database (wrapper and record engine), against plain SQLite
// statements on one table doing the same work with the same settings, with
// and without write-through; and storing them a second time, which replaces
// each record. Prints operations per second and the ratios.
//
// Every store waits for the disk several times (with write-through a few
// more); at the few milliseconds a flush can take 20,000 such stores would
// run for many minutes, so stores use the first ZK_BENCH_SYNC_RECORDS records
// (default 1000). Fetches always use all.
#include <benchmark/benchmark.h>

#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "art/database.h"
#include "support/fake_ui.h"
#include "support/temp_dir.h"
#include "rate_reporter.h"
#include "results.h"

namespace {

constexpr int kRecords = 20000;
constexpr int kKeyLength = 32;

struct Record {
    std::string key, body;
};

const std::vector<Record>& records() {
    static std::vector<Record> all = [] {
        std::mt19937 rng(20000);
        std::vector<Record> v;
        v.reserve(kRecords);
        for (int i = 0; i < kRecords; ++i) {
            Record r;
            r.key = "models/object" + std::to_string(i * 7919 % 100003) + ".rwx";
            r.key.resize(kKeyLength, '\0');
            r.body.resize(100 + rng() % 901);
            for (char& c : r.body) c = static_cast<char>(rng());
            v.push_back(std::move(r));
        }
        return v;
    }();
    return all;
}

int store_count() {
    const char* env = std::getenv("ZK_BENCH_SYNC_RECORDS");
    int n = env ? std::atoi(env) : 1000;
    return n < 1 ? 1 : (n > kRecords ? kRecords : n);
}

// The body stored in `pass` (0, 1) for record i: a second pass replaces each
// record with one of another length.
const std::string& body_of(int i, int pass) { return records()[static_cast<size_t>((i + pass) % kRecords)].body; }

// ---- the local database

zk::Database* open_database(const std::string& dir, bool write_through) {
    return zk::database_open(dir + "/models", kKeyLength, 0, 16384, 4096, true, write_through);
}

void database_store_all(zk::Database* db, int n, int pass, benchmark::State& state) {
    for (int i = 0; i < n; ++i) {
        const std::string& body = body_of(i, pass);
        if (!zk::database_store(db, records()[static_cast<size_t>(i)].key, body.data(), static_cast<int>(body.size())))
            state.SkipWithError("store failed");
    }
}

// range(1) 1: the timed pass replaces records stored before it.
void BM_DatabaseStore(benchmark::State& state) {
    const bool through = state.range(0) != 0;
    const int pass = static_cast<int>(state.range(1));
    const int n = store_count();
    for (auto _ : state) {
        state.PauseTiming();
        zk::test::TempDir dir;
        zk::Database* db = open_database(dir.path(), through);
        if (pass) database_store_all(db, n, 0, state);
        state.ResumeTiming();
        database_store_all(db, n, pass, state);
        state.PauseTiming();
        zk::database_close(db);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * n);
}

void BM_DatabaseFetch(benchmark::State& state) {
    const bool through = state.range(0) != 0;
    zk::test::TempDir dir;
    zk::Database* db = open_database(dir.path(), false);
    for (const Record& r : records()) zk::database_store(db, r.key, r.body.data(), static_cast<int>(r.body.size()));
    zk::database_close(db);
    db = open_database(dir.path(), through);
    std::vector<char> buffer(1000);
    for (auto _ : state) {
        for (const Record& r : records()) {
            int length = 0;
            if (!zk::database_fetch(db, r.key, buffer.data(), buffer.size(), &length) ||
                static_cast<size_t>(length) != r.body.size())
                state.SkipWithError("fetch failed");
        }
    }
    zk::database_close(db);
    state.SetItemsProcessed(state.iterations() * kRecords);
}

// ---- plain SQLite: one table, one statement per store or fetch

sqlite3* open_reference(const std::string& dir, bool write_through) {
    sqlite3* db = nullptr;
    sqlite3_open((dir + "/reference.db").c_str(), &db);
    std::string setup = std::string("PRAGMA journal_mode=DELETE; PRAGMA secure_delete=OFF; PRAGMA cache_size=512; ") +
                        "PRAGMA synchronous=" + (write_through ? "EXTRA" : "NORMAL") +
                        "; CREATE TABLE IF NOT EXISTS t(key BLOB PRIMARY KEY, body BLOB NOT NULL) WITHOUT ROWID;";
    sqlite3_exec(db, setup.c_str(), nullptr, nullptr, nullptr);
    return db;
}

void reference_store_all(sqlite3* db, int n, benchmark::State* state, int pass = 0) {
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO t(key, body) VALUES(?1, ?2)", -1, &s, nullptr);
    for (int i = 0; i < n; ++i) {
        const Record& r = records()[static_cast<size_t>(i)];
        const std::string& body = body_of(i, pass);
        sqlite3_bind_blob(s, 1, r.key.data(), kKeyLength, SQLITE_STATIC);
        sqlite3_bind_blob(s, 2, body.data(), static_cast<int>(body.size()), SQLITE_STATIC);
        if (sqlite3_step(s) != SQLITE_DONE && state) state->SkipWithError("reference store failed");
        sqlite3_reset(s);
    }
    sqlite3_finalize(s);
}

void BM_SqliteStore(benchmark::State& state) {
    const bool through = state.range(0) != 0;
    const int pass = static_cast<int>(state.range(1));
    const int n = store_count();
    for (auto _ : state) {
        state.PauseTiming();
        zk::test::TempDir dir;
        sqlite3* db = open_reference(dir.path(), through);
        if (pass) reference_store_all(db, n, &state);
        state.ResumeTiming();
        reference_store_all(db, n, &state, pass);
        state.PauseTiming();
        sqlite3_close(db);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * n);
}

void BM_SqliteFetch(benchmark::State& state) {
    const bool through = state.range(0) != 0;
    zk::test::TempDir dir;
    sqlite3* db = open_reference(dir.path(), false);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    reference_store_all(db, kRecords, nullptr);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    db = open_reference(dir.path(), through);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "SELECT body FROM t WHERE key=?1", -1, &s, nullptr);
    std::vector<char> buffer(1000);
    for (auto _ : state) {
        for (const Record& r : records()) {
            sqlite3_bind_blob(s, 1, r.key.data(), kKeyLength, SQLITE_STATIC);
            if (sqlite3_step(s) != SQLITE_ROW) state.SkipWithError("reference fetch failed");
            const int length = sqlite3_column_bytes(s, 0);
            if (static_cast<size_t>(length) != r.body.size()) state.SkipWithError("reference fetch failed");
            std::memcpy(buffer.data(), sqlite3_column_blob(s, 0), static_cast<size_t>(length));
            sqlite3_reset(s);
        }
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
    state.SetItemsProcessed(state.iterations() * kRecords);
}

BENCHMARK(BM_DatabaseStore)->ArgNames({"write_through", "replace"})->ArgsProduct({{0, 1}, {0, 1}})->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteStore)->ArgNames({"write_through", "replace"})->ArgsProduct({{0, 1}, {0, 1}})->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DatabaseFetch)->ArgName("write_through")->Arg(0)->Arg(1)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteFetch)->ArgName("write_through")->Arg(0)->Arg(1)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    zk::test::FakeUi ui;
    zk::ui_set_port(&ui);
    if (!zk::database_init()) return 1;
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n%-34s %12s %12s %8s %10s\n", "operation", "ours ops/s", "SQLite ops/s", "ratio", "CPU ratio");
    for (const char* op : {"Store", "Fetch"}) {
        for (const char* arg : {"write_through:0", "write_through:1", "write_through:0/replace:0",
                                "write_through:1/replace:0", "write_through:0/replace:1", "write_through:1/replace:1"}) {
            const std::string ours = std::string("BM_Database") + op + "/" + arg;
            const std::string theirs = std::string("BM_Sqlite") + op + "/" + arg;
            const double mine = reporter.rate(ours), sqlite = reporter.rate(theirs);
            const double mine_cpu = reporter.rate(ours, "items_per_second", true);
            const double sqlite_cpu = reporter.rate(theirs, "items_per_second", true);
            if (mine <= 0 || mine_cpu <= 0) continue;
            std::printf("%-34s %12.0f %12.0f %7.2fx %9.2fx\n", (std::string(op) + " " + arg).c_str(), mine,
                        sqlite, sqlite / mine, sqlite_cpu / mine_cpu);
            bench_result(("database " + std::string(op) + " " + arg).c_str(), mine, "records/s", "plain SQLite",
                         sqlite);
        }
    }
    std::printf("(ratio: SQLite's rate over ours, i.e. the engine's overhead in wall-clock and in CPU time)\n");
    for (const auto& box : ui.boxes) std::printf("box: %s\n", box.text.c_str());
    zk::ui_set_port(nullptr);
    benchmark::Shutdown();
    return 0;
}
