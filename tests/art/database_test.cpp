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

// Boxes go to standard error as well, for a test of a process that exits.
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
    void TearDown() override { ui_set_port(nullptr); }
    Database* open(const std::string& stem, bool fixed = false, bool sync = false) {
        Database* db = database_open(dir_.file(stem), fixed ? 50 : 32, fixed ? 50 : 0, 16384, 4096, true, sync);
        EXPECT_TRUE(db) << stem;  // the calls all take a null handle
        return db;
    }
    static std::string fetch(Database* db, const std::string& key) {
        std::vector<uint8_t> data;
        if (!database_fetch_unknown(db, key, data)) return "<none>";
        return std::string(data.begin(), data.end());
    }
    static int store(Database* db, const std::string& key, const std::string& body) {
        return database_store(db, key, body.data(), static_cast<int>(body.size()));
    }
    // The two files of the variable database `stem` holding `count` records.
    std::pair<std::string, std::string> filled(const std::string& stem, int count) {
        Database* db = open(stem);
        for (int i = 0; i < count; ++i)
            EXPECT_EQ(store(db, "key" + std::to_string(i), "body " + std::to_string(i) + std::string(300, 'b')), 1);
        database_close(db);
        return {read_file(dir_.file(stem + ".dat")), read_file(dir_.file(stem + ".idx"))};
    }
    long files() const { return std::distance(std::filesystem::directory_iterator(dir_.path()), {}); }

    TempDir dir_;
    EchoUi ui_;
};

}  // namespace

TEST_F(DatabaseTest, VariableRecordsAreStoredReplacedAndRemoved) {
    Database* db = open("textures");
    EXPECT_EQ(files(), 2);  // made empty
    ASSERT_EQ(store(db, "stone.jpg", "first content, rather long"), 1);
    ASSERT_EQ(store(db, "stone.jpg", "second"), 1);
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
    EXPECT_EQ(database_store(db, "never", nullptr, -1), 1);

    database_close(db);
    db = open("textures");
    EXPECT_EQ(fetch(db, "stone.jpg"), "second");
    EXPECT_EQ(database_key_exists(db, "c1"), 0);
    database_close(db);
    EXPECT_TRUE(ui_.boxes.empty());
    // Two live records: the replaced and removed ones were released from disk.
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open_v2(dir_.file("textures.dat").c_str(), &raw, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    char** rows = nullptr;
    ASSERT_EQ(sqlite3_get_table(raw, "SELECT count(*) FROM records", &rows, nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_STREQ(rows[1], "2");
    sqlite3_free_table(rows);
    sqlite3_close(raw);
}

TEST_F(DatabaseTest, FixedRecordsKeepTheirPlaceAndResetEmptiesTheStore) {
    // Files of another record length start over: their records would not fit.
    Database* db = database_open(dir_.file("download"), 50, 60, 4096, 4096, true, false);
    ASSERT_EQ(store(db, "k", std::string(60, 'w')), 1);
    database_close(db);
    db = open("download", true);
    ASSERT_TRUE(db);
    EXPECT_EQ(database_key_exists(db, "k"), 0);
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
    std::vector<uint8_t> data{9};
    EXPECT_EQ(database_fetch_unknown(db, "http://a/short", data), 0);  // for variable records only
    EXPECT_TRUE(data.empty());
    database_reset(db);
    EXPECT_EQ(database_key_exists(db, key), 0);
    EXPECT_EQ(store(db, key, "again"), 1);
    database_close(db);
    EXPECT_TRUE(ui_.boxes.empty());
}

// Damage found at the open starts the store over silently; an engine error
// in an operation later tells the user once and then starts over.
TEST_F(DatabaseTest, DamageStartsTheStoreOver) {
    int (*const ops[])(Database*) = {
        [](Database* db) { return database_key_exists(db, "key7"); },
        [](Database* db) {
            char buffer[1000];
            return database_fetch(db, "key7", buffer, sizeof buffer, nullptr);
        },
        [](Database* db) { return fetch(db, "key7") == "<none>" ? 0 : 1; },
        [](Database* db) { return store(db, "key7", "new"); },
    };
    const auto [dat, idx] = filled("cache", 300);
    std::string garbage = idx;
    for (char& c : garbage) c = static_cast<char>(~c);
    // Garbage, nothing, cut inside a page, cut at a page.
    for (const std::string& damaged :
         {garbage, std::string(), idx.substr(0, idx.size() / 2 + 10), idx.substr(0, 4096)}) {
        write_file(dir_.file("cache.dat"), dat);
        write_file(dir_.file("cache.idx"), damaged);
        Database* db = open("cache");
        EXPECT_EQ(database_key_exists(db, "key1"), 0) << damaged.size();  // both started empty
        EXPECT_EQ(store(db, "key1", "again"), 1);
        EXPECT_EQ(fetch(db, "key1"), "again");
        database_close(db);
    }
    EXPECT_TRUE(ui_.boxes.empty());
    for (int op = 0; op < 4; ++op) {
        for (const std::string file : {"cache.idx", "cache.dat"}) {
            SCOPED_TRACE(file + " " + std::to_string(op));
            ui_.boxes.clear();
            write_file(dir_.file("cache.dat"), dat);
            write_file(dir_.file("cache.idx"), idx);
            Database* db = open("cache");
            // Every page after the header turns to garbage and the change
            // counter moves, so the engine's cached pages are thrown away.
            std::string bytes = read_file(dir_.file(file));
            std::mt19937 rng(3);
            for (size_t i = 4096; i < bytes.size(); ++i) bytes[i] = static_cast<char>(rng());
            bytes[27] = static_cast<char>(bytes[27] + 1);
            write_file(dir_.file(file), bytes);  // the same file, rewritten in place
            // With the data file damaged, asking for a key reads only the index
            // and a record whose length cannot be read counts as not found.
            const bool repaired = file == "cache.idx" || op == 3;
            EXPECT_EQ(ops[op](db), !repaired && op == 0 ? 1 : 0);
            ASSERT_EQ(ui_.boxes.size(), repaired ? 1u : 0u);
            if (repaired) {
                // Empty and usable again, no journal beside it.
                EXPECT_EQ(database_key_exists(db, "key1"), 0);
                EXPECT_EQ(store(db, "key1", "fresh"), 1);
                EXPECT_EQ(fetch(db, "key1"), "fresh");
                EXPECT_EQ(ui_.boxes.size(), 1u);
                EXPECT_EQ(files(), 2);
            }
            database_close(db);
        }
    }
}

// An index row left pointing at another key's record (a data commit lost
// to a power failure, its position then reused) is damage: no fetch hands
// out the other key's record and no store overwrites it.
TEST_F(DatabaseTest, AKeyPointingAtAnotherKeysRecordIsDamage) {
    for (int c = 0; c < 4; ++c) {
        const bool fixed = c & 1, storing = c & 2;
        SCOPED_TRACE(c);
        ui_.boxes.clear();
        Database* db = open("mixed" + std::to_string(c), fixed);
        ASSERT_TRUE(db);
        ASSERT_EQ(store(db, "a", std::string(50, 'a')), 1);
        ASSERT_EQ(store(db, "b", std::string(50, 'b')), 1);
        const std::string ka = "a" + std::string(db->key_length - 1, '\0'), kb = "b" + ka.substr(1);
        const IsamPos pa = isam_get_key(db->index_file, ka.data()), pb = isam_get_key(db->index_file, kb.data());
        ASSERT_EQ(isam_delete_key(db->index_file, ka.data(), pa), 0);
        ASSERT_EQ(isam_add_key(db->index_file, ka.data(), pb, 0), 0);

        char buffer[64] = {};
        EXPECT_EQ(storing ? store(db, "a", "c") : database_fetch(db, "a", buffer, sizeof buffer, nullptr), 0);
        // b keeps its record, or the store started over. A variable record
        // that cannot be had counts as not found; the rest is repaired.
        if (database_fetch(db, "b", buffer, sizeof buffer, nullptr)) {
            EXPECT_EQ(std::string(buffer, 50), std::string(50, 'b'));
        }
        EXPECT_EQ(ui_.boxes.size(), fixed || storing ? 1u : 0u);
        database_close(db);
    }
}

// Files that another program holds locked are in use, not damaged: the
// lock is waited for, then the operation fails, and nothing is thrown away.
TEST_F(DatabaseTest, FilesLockedElsewhereAreNeverThrownAway) {
    Database* db = open("live");
    ASSERT_EQ(store(db, "k", "kept"), 1);
    // The pair has one opener at a time.
    EXPECT_EQ(database_open(dir_.file("live"), 32, 0, 16384, 4096, true, false), nullptr);
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_NE(ui_.boxes[0].text.find("(reason " + std::to_string(isam_err_busy) + ")"), std::string::npos);
    EXPECT_EQ(fetch(db, "k"), "kept");
    // A program holding SQLite's own lock on the index.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(dir_.file("live.idx").c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_EQ(fetch(db, "k"), "<none>");
    EXPECT_EQ(store(db, "k", "lost"), 0);
    sqlite3_close(other);  // rolls back
    EXPECT_EQ(ui_.boxes.size(), 1u);
    EXPECT_EQ(fetch(db, "k"), "kept");
    database_close(db);
}

// The program is asked to end, and the null handle it is left with is harmless.
TEST_F(DatabaseTest, ADatabaseThatCannotBeMadeOrMadeAgainIsFatal) {
    Database* db = database_open(dir_.file("no/such/dir/cell"), 6, 0, 16384, 4096, false, false);
    EXPECT_EQ(db, nullptr);
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_NE(ui_.boxes[0].text.find("(reason " + std::to_string(isam_err_create) + ")"), std::string::npos);
    EXPECT_EQ(ui_.quits, 1);
    char buffer[4];
    std::vector<uint8_t> data;
    EXPECT_EQ(database_key_exists(db, "k"), 0);
    EXPECT_EQ(database_fetch(db, "k", buffer, sizeof buffer, nullptr), 0);
    EXPECT_EQ(database_fetch_unknown(db, "k", data), 0);
    EXPECT_EQ(database_store(db, "k", "a", 1), 0);
    database_reset(db);
    database_close(db);

    std::filesystem::create_directory(dir_.file("gone"));
    EXPECT_EXIT(
        {
            db = database_open(dir_.file("gone/cell"), 6, 0, 16384, 4096, false, false);
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
    // Versions grow so that stores move records across pages.
    auto version = [](int v) { return "version " + std::to_string(v) + std::string(size_t(v % 5000), '.'); };
    std::mt19937 rng(5);
    for (int round = 0; round < 12; ++round) {
        const std::string stem = "crash" + std::to_string(round), ready = dir_.file(stem + ".ready");
        const bool write_through = round % 2 == 1;
        Database* db = open(stem, false, write_through);
        ASSERT_EQ(store(db, "the key", version(0)), 1);
        database_close(db);
        pid_t child = fork();
        if (child == 0) {
            db = open(stem, false, write_through);
            if (!db) _exit(2);
            write_file(ready, "open");
            for (int v = 1;; ++v) {
                if (store(db, "the key", version(v)) != 1) _exit(4);
                store(db, "other " + std::to_string(v % 50), version(v));
            }
        }
        ASSERT_TRUE(test::wait_for_text(ready, "open", 10000));
        usleep(10000 + rng() % 40000);
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child stopped by itself: " << status;

        db = open(stem, false, write_through);
        const std::string got = fetch(db, "the key");
        database_close(db);
        EXPECT_EQ(got, version(std::stoi(got.substr(8))));
    }
    EXPECT_TRUE(ui_.boxes.empty());
}
