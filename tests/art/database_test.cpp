#include <gtest/gtest.h>

#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "art/database.h"
#include "isam/isam.h"
#include "support/fake_ui.h"
#include "support/process.h"
#include "support/temp_dir.h"

using namespace zk;
using namespace zk::test;

namespace {

// Boxes go to standard error as well, so a test of a process that exits
// can see them.
class EchoUi : public zk::test::FakeUi {
public:
    void stop_box(const std::string& caption, const std::string& text) override {
        FakeUi::stop_box(caption, text);
        std::fprintf(stderr, "box: %s\n", text.c_str());
    }
};

class DatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_set_port(&ui_);
        ASSERT_TRUE(database_init());
    }
    void TearDown() override {
        for (Database* db : open_) database_close(db);
        ui_set_port(nullptr);
    }
    Database* open(const std::string& stem, bool fixed = false) {
        Database* db = database_open(dir_.file(stem), fixed ? 50 : 32, fixed ? 50 : 0, 16384, 4096, true, false);
        if (db) open_.push_back(db);
        return db;
    }
    void close(Database* db) {
        open_.erase(std::remove(open_.begin(), open_.end(), db), open_.end());
        database_close(db);
    }
    static std::string fetch(Database* db, const std::string& key) {
        std::vector<uint8_t> data;
        if (!database_fetch_unknown(db, key, data)) return "<none>";
        return std::string(data.begin(), data.end());
    }
    static int store(Database* db, const std::string& key, const std::string& body) {
        return database_store(db, key, body.data(), static_cast<int>(body.size()));
    }
    // Fills the variable database `stem` with `count` records once and
    // answers the contents of its two files, to be put back for each case.
    std::pair<std::string, std::string> filled(const std::string& stem, int count) {
        Database* db = open(stem);
        EXPECT_TRUE(db);
        for (int i = 0; i < count; ++i)
            EXPECT_EQ(store(db, "key" + std::to_string(i), "body " + std::to_string(i) + std::string(300, 'b')), 1);
        close(db);
        return {read_file(dir_.file(stem + ".dat")), read_file(dir_.file(stem + ".idx"))};
    }
    std::vector<std::string> listing() const {
        std::vector<std::string> v;
        for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
            v.push_back(e.path().filename());
        std::sort(v.begin(), v.end());
        return v;
    }
    // Damages a file under an open database: every page after the header
    // turns to garbage and the change counter moves, so the engine's cached
    // pages are thrown away and the damage is read.
    static void damage_open_file(const std::string& path) {
        std::string bytes = read_file(path);
        ASSERT_GT(bytes.size(), 8192u);
        std::mt19937 rng(3);
        for (size_t i = 4096; i < bytes.size(); ++i) bytes[i] = static_cast<char>(rng());
        bytes[27] = static_cast<char>(bytes[27] + 1);
        write_file(path, bytes);  // the same file, rewritten in place
    }

    TempDir dir_;
    EchoUi ui_;
    std::vector<Database*> open_;
};

}  // namespace

TEST_F(DatabaseTest, VariableRecordsAreStoredReplacedAndRemoved) {
    Database* db = open("textures");
    ASSERT_TRUE(db);
    EXPECT_EQ(listing(), (std::vector<std::string>{"textures.dat", "textures.idx"}));  // made empty
    EXPECT_EQ(database_key_exists(db, "stone.jpg"), 0);
    ASSERT_EQ(store(db, "stone.jpg", "first content, rather long"), 1);
    ASSERT_EQ(store(db, "stone.jpg", "second"), 1);
    EXPECT_EQ(fetch(db, "stone.jpg"), "second");
    char buffer[100];
    int length = -1;
    ASSERT_EQ(database_fetch(db, "stone.jpg", buffer, sizeof buffer, &length), 1);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(length)), "second");
    // A record too large for the caller's buffer is not copied.
    std::memset(buffer, 0x55, sizeof buffer);
    EXPECT_EQ(database_fetch(db, "stone.jpg", buffer, 3, &length), 0);
    EXPECT_EQ(static_cast<unsigned char>(buffer[0]), 0x55);
    // Keys are zero-filled to the key length and cut beyond it.
    EXPECT_EQ(database_key_exists(db, std::string("stone.jpg\0\0", 11)), 1);
    ASSERT_EQ(store(db, std::string(40, 'k'), "long key"), 1);
    EXPECT_EQ(fetch(db, std::string(32, 'k') + "different tail"), "long key");
    // Length zero removes the key.
    ASSERT_EQ(store(db, "c1", "objects"), 1);
    ASSERT_EQ(database_store(db, "c1", "x", 0), 1);
    EXPECT_EQ(fetch(db, "c1"), "<none>");
    EXPECT_EQ(database_store(db, "never", nullptr, -1), 1);

    close(db);
    db = open("textures");
    ASSERT_TRUE(db);
    EXPECT_EQ(fetch(db, "stone.jpg"), "second");
    EXPECT_EQ(database_key_exists(db, "c1"), 0);
    close(db);
    EXPECT_TRUE(ui_.boxes.empty());
    // Two live records: the replaced and removed ones were released from disk.
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open_v2(dir_.file("textures.dat").c_str(), &raw, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(raw, "SELECT count(*) FROM records", -1, &st, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(st, 0), 2);
    sqlite3_finalize(st);
    sqlite3_close(raw);
}

TEST_F(DatabaseTest, FixedRecordsKeepTheirPlace) {
    Database* db = open("download", true);
    ASSERT_TRUE(db);
    const std::string key = "http://a/tree.rwx" + std::string(33, '\0');
    ASSERT_EQ(store(db, key, std::string(50, '1')), 1);
    const IsamPos pos = isam_get_key(db->index_file, key.data());
    ASSERT_EQ(store(db, key, std::string(50, '2')), 1);
    EXPECT_EQ(isam_get_key(db->index_file, key.data()), pos);  // overwritten in place
    ASSERT_EQ(store(db, "http://a/short", "ab"), 1);  // zero-filled
    char buffer[50];
    int length = 0;
    ASSERT_EQ(database_fetch(db, key, buffer, sizeof buffer, &length), 1);
    EXPECT_EQ(std::string(buffer, 50), std::string(50, '2'));
    EXPECT_EQ(length, 50);
    ASSERT_EQ(database_fetch(db, "http://a/short", buffer, sizeof buffer, nullptr), 1);
    EXPECT_EQ(std::string(buffer, 50), "ab" + std::string(48, '\0'));
    EXPECT_EQ(database_fetch(db, "http://a/short", buffer, 49, nullptr), 0);
    // Asking for a record of unknown length answers none and touches nothing.
    const std::string dat = read_file(dir_.file("download.dat")), idx = read_file(dir_.file("download.idx"));
    std::vector<uint8_t> data{9};
    EXPECT_EQ(database_fetch_unknown(db, "http://a/short", data), 0);
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(read_file(dir_.file("download.dat")), dat);
    EXPECT_EQ(read_file(dir_.file("download.idx")), idx);
    EXPECT_TRUE(ui_.boxes.empty());
}

TEST_F(DatabaseTest, DamagedIndexOrAnotherShapeStartsOverWithoutAMessage) {
    const auto [dat, idx] = filled("world", 200);
    ASSERT_GT(idx.size(), 8192u);
    std::string garbage(idx.size(), '\0');
    std::mt19937 rng(11);
    for (char& c : garbage) c = static_cast<char>(rng());
    // Garbage, nothing, cut inside a page, cut at a page.
    for (const std::string& damaged :
         {garbage, std::string(), idx.substr(0, idx.size() / 2 + 10), idx.substr(0, 4096)}) {
        write_file(dir_.file("world.dat"), dat);
        write_file(dir_.file("world.idx"), damaged);
        Database* db = open("world");
        ASSERT_TRUE(db) << damaged.size();
        EXPECT_TRUE(ui_.boxes.empty()) << damaged.size();
        EXPECT_EQ(database_key_exists(db, "key1"), 0) << damaged.size();  // both started empty
        EXPECT_EQ(store(db, "key1", "again"), 1);
        EXPECT_EQ(fetch(db, "key1"), "again");
        close(db);
    }
    // Same stem, but made with another record length: its records could
    // not fit the callers' buffers.
    Database* db = database_open(dir_.file("download"), 50, 60, 4096, 4096, true, false);
    ASSERT_TRUE(db);
    ASSERT_EQ(store(db, "k", std::string(60, 'w')), 1);
    database_close(db);
    db = open("download", true);
    ASSERT_TRUE(db);
    EXPECT_EQ(database_key_exists(db, "k"), 0);
    EXPECT_TRUE(ui_.boxes.empty());
}

TEST_F(DatabaseTest, EngineErrorMidOperationRepairsOnce) {
    struct Op {
        const char* name;
        int (*run)(Database*);
    };
    const Op ops[] = {
        {"key_exists", [](Database* db) { return database_key_exists(db, "key7"); }},
        {"fetch", [](Database* db) {
             char buffer[1000];
             return database_fetch(db, "key7", buffer, sizeof buffer, nullptr);
         }},
        {"fetch_unknown", [](Database* db) { return fetch(db, "key7") == "<none>" ? 0 : 1; }},
        {"store", [](Database* db) { return store(db, "key7", "new"); }},
    };
    const auto [dat, idx] = filled("cache", 300);
    for (const Op& op : ops) {
        for (const char* file : {"cache.idx", "cache.dat"}) {
            const std::string name = op.name;
            const bool data_file = std::string(file) == "cache.dat";
            ui_.boxes.clear();
            write_file(dir_.file("cache.dat"), dat);
            write_file(dir_.file("cache.idx"), idx);
            Database* db = open("cache");
            ASSERT_TRUE(db);
            damage_open_file(dir_.file(file));
            if (data_file && name != "store") {
                // Asking for a key reads only the index; a record whose
                // length cannot be read counts as not found.
                EXPECT_EQ(op.run(db), name == "key_exists" ? 1 : 0) << name;
                EXPECT_TRUE(ui_.boxes.empty()) << name;
            } else {
                EXPECT_EQ(op.run(db), 0) << name << " " << file;
                ASSERT_EQ(ui_.boxes.size(), 1u) << name << " " << file;
                // Empty and usable again, no journal beside it.
                EXPECT_EQ(database_key_exists(db, "key1"), 0);
                EXPECT_EQ(store(db, "key1", "fresh"), 1);
                EXPECT_EQ(fetch(db, "key1"), "fresh");
                EXPECT_EQ(ui_.boxes.size(), 1u);
                EXPECT_EQ(listing(), (std::vector<std::string>{"cache.dat", "cache.idx"}));
            }
            close(db);
        }
    }
}

// An index row left pointing at another key's record (a data commit lost
// to a power failure, its position then reused) is damage: no fetch hands
// out the other key's record and no store overwrites it.
TEST_F(DatabaseTest, AKeyPointingAtAnotherKeysRecordIsDamage) {
    struct Case {
        bool fixed, store;
    };
    for (const Case c : {Case{false, false}, Case{false, true}, Case{true, false}, Case{true, true}}) {
        ui_.boxes.clear();
        Database* db = open("mixed" + std::to_string(c.fixed) + std::to_string(c.store), c.fixed);
        ASSERT_TRUE(db);
        const std::string b(50, 'b');
        ASSERT_EQ(store(db, "a", std::string(50, 'a')), 1);
        ASSERT_EQ(store(db, "b", b), 1);
        std::string ka(db->key_length, '\0'), kb = ka;
        ka[0] = 'a';
        kb[0] = 'b';
        const IsamPos pa = isam_get_key(db->index_file, ka.data()), pb = isam_get_key(db->index_file, kb.data());
        ASSERT_EQ(isam_delete_key(db->index_file, ka.data(), pa), 0);
        ASSERT_EQ(isam_add_key(db->index_file, ka.data(), pb, 0), 0);

        char buffer[64] = {};
        if (c.store)
            EXPECT_EQ(store(db, "a", std::string(50, 'c')), 0);
        else
            EXPECT_EQ(database_fetch(db, "a", buffer, sizeof buffer, nullptr), 0);
        // b keeps its record, or the store started over. A variable record
        // that cannot be had counts as not found; the rest is repaired.
        if (database_fetch(db, "b", buffer, sizeof buffer, nullptr)) {
            EXPECT_EQ(std::string(buffer, 50), b);
        }
        EXPECT_EQ(ui_.boxes.size(), c.fixed || c.store ? 1u : 0u) << c.fixed << c.store;
        close(db);
    }
}

// Files that another program holds locked are in use, not damaged: the
// lock is waited for, then the operation fails, and nothing is thrown away.
TEST_F(DatabaseTest, FilesLockedElsewhereAreNeverThrownAway) {
    Database* db = open("live");
    ASSERT_TRUE(db);
    ASSERT_EQ(store(db, "k", "kept"), 1);
    // The pair has one opener at a time.
    EXPECT_EQ(open("live"), nullptr);
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_NE(ui_.boxes[0].text.find("(reason " + std::to_string(isam_err_busy) + ")"), std::string::npos);
    EXPECT_EQ(fetch(db, "k"), "kept");
    // A program holding SQLite's own lock on the index.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(dir_.file("live.idx").c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_EQ(fetch(db, "k"), "<none>");
    EXPECT_EQ(store(db, "k", "lost"), 0);
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(ui_.boxes.size(), 1u);
    EXPECT_EQ(fetch(db, "k"), "kept");
}

TEST_F(DatabaseTest, ResetEmptiesTheDatabaseAndNullHandlesAnswerZero) {
    Database* db = open("cell");
    ASSERT_TRUE(db);
    ASSERT_EQ(store(db, "key3", "old"), 1);
    database_reset(db);
    EXPECT_EQ(database_key_exists(db, "key3"), 0);
    EXPECT_EQ(store(db, "key3", "again"), 1);
    EXPECT_EQ(fetch(db, "key3"), "again");
    EXPECT_TRUE(ui_.boxes.empty());
    char buffer[4];
    std::vector<uint8_t> data;
    EXPECT_EQ(database_key_exists(nullptr, "k"), 0);
    EXPECT_EQ(database_fetch(nullptr, "k", buffer, sizeof buffer, nullptr), 0);
    EXPECT_EQ(database_fetch_unknown(nullptr, "k", data), 0);
    EXPECT_EQ(database_store(nullptr, "k", "a", 1), 0);
    database_reset(nullptr);
    database_close(nullptr);
}

TEST_F(DatabaseTest, ADatabaseThatCannotBeMadeIsFatal) {
    EXPECT_EQ(database_open(dir_.file("no/such/dir/cell"), 6, 0, 16384, 4096, false, false), nullptr);
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_NE(ui_.boxes[0].text.find("(reason " + std::to_string(isam_err_create) + ")"), std::string::npos);
    EXPECT_EQ(ui_.quits, 1);
}

TEST_F(DatabaseTest, FailedRecoveryExitsWithMessage85) {
    std::filesystem::create_directory(dir_.file("gone"));
    EXPECT_EXIT(
        {
            Database* db = database_open(dir_.file("gone/cell"), 6, 0, 16384, 4096, false, false);
            if (!db) std::_Exit(7);
            store(db, "c1", "objects");
            // The directory disappears under the open database: the next
            // write cannot make its journal, and nothing can be re-created.
            std::filesystem::remove_all(dir_.file("gone"));
            store(db, "c2", "more");
            std::_Exit(9);
        },
        ::testing::ExitedWithCode(0),
        "An error of type [0-9]+ was encountered(.|\n)*Unable to recover from cache failure \\(reason [0-9]+\\)");
}

// A store killed at any moment leaves a database that opens and holds the
// old record or the new one.
TEST_F(DatabaseTest, KilledInTheMiddleOfAStoreLeavesOldOrNew) {
    std::mt19937 rng(5);
    for (int round = 0; round < 12; ++round) {
        const std::string stem = "crash" + std::to_string(round);
        {
            Database* db = database_open(dir_.file(stem), 32, 0, 16384, 4096, true, round % 2 == 1);
            ASSERT_TRUE(db);
            ASSERT_EQ(store(db, "the key", "version 0"), 1);
            database_close(db);
        }
        const std::string ready = dir_.file(stem + ".ready");
        pid_t child = fork();
        if (child == 0) {
            Database* db = database_open(dir_.file(stem), 32, 0, 16384, 4096, true, round % 2 == 1);
            if (!db) _exit(2);
            write_file(ready, "open");
            // Versions grow so that stores move records across pages.
            for (int v = 1;; ++v) {
                std::string body = "version " + std::to_string(v) + std::string(static_cast<size_t>(v % 5000), '.');
                if (store(db, "the key", body) != 1) _exit(4);
                store(db, "other " + std::to_string(v % 50), body);
            }
        }
        ASSERT_TRUE(test::wait_for_text(ready, "open", 10000));
        usleep(10000 + rng() % 40000);
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child stopped by itself: " << status;

        Database* db = database_open(dir_.file(stem), 32, 0, 16384, 4096, true, round % 2 == 1);
        ASSERT_TRUE(db);
        open_.push_back(db);
        const std::string got = fetch(db, "the key");
        ASSERT_EQ(got.rfind("version ", 0), 0u) << got;
        const int v = std::stoi(got.substr(8));
        EXPECT_EQ(got, "version " + std::to_string(v) + std::string(static_cast<size_t>(v % 5000), '.'));
        EXPECT_TRUE(ui_.boxes.empty());
        close(db);
    }
}
