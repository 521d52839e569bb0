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

#include "core/log.h"
#include "core/settings.h"
#include "art/database.h"
#include "common/messages.h"
#include "isam/isam.h"
#include "support/fake_ui.h"
#include "support/temp_dir.h"

using namespace zk;
using zk::test::read_file;
using zk::test::ScopedFakeUi;
using zk::test::TempDir;
using zk::test::write_file;

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
        old_ = getcwd(nullptr, 0);
        ASSERT_EQ(chdir(dir_.path().c_str()), 0);
        write_file(dir_.file("zelnik.ini"), "[debug]\ntrace=1\ndatabase=1\n");
        settings_set_directory(dir_.path());
        log_close();
        log_init();
        ui_set_port(&ui_);
        ASSERT_TRUE(database_init());
    }
    void TearDown() override {
        for (Database* db : open_) database_close(db);
        ui_set_port(nullptr);
        log_close();
        EXPECT_EQ(chdir(old_), 0);
        free(old_);
    }
    Database* open_variable(const std::string& stem) {
        Database* db = database_open(dir_.file(stem), 32, 0, 16384, 4096, true, false);
        if (db) open_.push_back(db);
        return db;
    }
    Database* open_fixed(const std::string& stem) {
        Database* db = database_open(dir_.file(stem), 50, 50, 4096, 4096, true, false);
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
    void fill(Database* db, int count) {
        for (int i = 0; i < count; ++i)
            ASSERT_EQ(store(db, "key" + std::to_string(i), "body " + std::to_string(i) + std::string(300, 'b')), 1);
    }
    std::vector<std::string> listing() const {
        std::vector<std::string> v;
        for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
            if (e.path().filename() != "zelnik.ini" && e.path().filename() != "zelnik.log")
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
        FILE* f = std::fopen(path.c_str(), "r+b");
        ASSERT_TRUE(f);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    std::string log() {
        log_close();
        return read_file(dir_.file("zelnik.log"));
    }

    TempDir dir_;
    char* old_ = nullptr;
    EchoUi ui_;
    std::vector<Database*> open_;
};

}  // namespace

TEST_F(DatabaseTest, MissingFilesAreCreatedEmpty) {
    Database* db = open_variable("models");
    ASSERT_TRUE(db);
    EXPECT_EQ(listing(), (std::vector<std::string>{"models.dat", "models.idx"}));
    EXPECT_EQ(database_key_exists(db, "tree01"), 0);
    EXPECT_EQ(fetch(db, "tree01"), "<none>");
    EXPECT_TRUE(ui_.boxes.empty());
    EXPECT_EQ(db->fixed, 0);
    EXPECT_EQ(db->key_type, 12);
    EXPECT_EQ(db->data_mode & kIsamVariable, kIsamVariable);
}

TEST_F(DatabaseTest, StoreFetchAndReplaceVariableRecords) {
    Database* db = open_variable("textures");
    ASSERT_TRUE(db);
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

    // After reopening: one record per key, the released ones gone from disk.
    close(db);
    db = open_variable("textures");
    ASSERT_TRUE(db);
    EXPECT_EQ(fetch(db, "stone.jpg"), "second");
    EXPECT_TRUE(ui_.boxes.empty());
    close(db);
    // Two live records; the replaced one was removed when the file closed.
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open_v2(dir_.file("textures.dat").c_str(), &raw, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* s = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(raw, "SELECT count(*) FROM records", -1, &s, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(s, 0), 2);
    sqlite3_finalize(s);
    sqlite3_close(raw);
}

TEST_F(DatabaseTest, StoringLengthZeroRemovesTheKey) {
    Database* db = open_variable("cell");
    ASSERT_TRUE(db);
    ASSERT_EQ(store(db, "c1", "objects"), 1);
    ASSERT_EQ(database_store(db, "c1", "x", 0), 1);
    EXPECT_EQ(database_key_exists(db, "c1"), 0);
    EXPECT_EQ(fetch(db, "c1"), "<none>");
    EXPECT_EQ(database_store(db, "never", nullptr, -1), 1);
    EXPECT_TRUE(ui_.boxes.empty());
}

TEST_F(DatabaseTest, FixedRecordsKeepTheirPlace) {
    Database* db = open_fixed("download");
    ASSERT_TRUE(db);
    std::string rec(50, '1');
    ASSERT_EQ(store(db, "http://a/tree.rwx", rec), 1);
    rec.assign(50, '2');
    ASSERT_EQ(store(db, "http://a/tree.rwx", rec), 1);
    ASSERT_EQ(store(db, "http://a/short", "ab"), 1);  // zero-filled
    char buffer[50];
    int length = 0;
    ASSERT_EQ(database_fetch(db, "http://a/tree.rwx", buffer, sizeof buffer, &length), 1);
    EXPECT_EQ(std::string(buffer, 50), rec);
    EXPECT_EQ(length, 50);
    ASSERT_EQ(database_fetch(db, "http://a/short", buffer, sizeof buffer, nullptr), 1);
    EXPECT_EQ(std::string(buffer, 50), "ab" + std::string(48, '\0'));
    EXPECT_EQ(database_fetch(db, "http://a/short", buffer, 49, nullptr), 0);
    // Overwritten in place: the same position answers.
    const IsamPos pos = isam_get_key(db->index_file, (std::string("http://a/tree.rwx") + std::string(33, '\0')).data());
    ASSERT_EQ(store(db, "http://a/tree.rwx", std::string(50, '3')), 1);
    EXPECT_EQ(isam_get_key(db->index_file, (std::string("http://a/tree.rwx") + std::string(33, '\0')).data()), pos);
}

TEST_F(DatabaseTest, FetchUnknownOnAFixedDatabaseTouchesNothing) {
    Database* db = open_fixed("download");
    ASSERT_TRUE(db);
    ASSERT_EQ(store(db, "k", std::string(50, 'z')), 1);
    const std::string dat = read_file(dir_.file("download.dat"));
    const std::string idx = read_file(dir_.file("download.idx"));
    log();  // the next line starts a new log
    std::vector<uint8_t> data{9};
    EXPECT_EQ(database_fetch_unknown(db, "k", data), 0);
    EXPECT_TRUE(data.empty());
    const std::string after = log();
    EXPECT_NE(after.find("database_fetch_unknown ("), std::string::npos);
    EXPECT_EQ(after.find("GetKey"), std::string::npos);  // no engine call
    EXPECT_EQ(read_file(dir_.file("download.dat")), dat);
    EXPECT_EQ(read_file(dir_.file("download.idx")), idx);
}

TEST_F(DatabaseTest, DamagedIndexStartsOverWithoutAMessage) {
    struct Damage {
        const char* name;
        std::string (*make)(const std::string&);
    };
    const Damage damages[] = {
        {"garbage", [](const std::string& good) {
             std::string g(good.size(), '\0');
             std::mt19937 rng(11);
             for (char& c : g) c = static_cast<char>(rng());
             return g;
         }},
        {"zero length", [](const std::string&) { return std::string(); }},
        {"truncated", [](const std::string& good) { return good.substr(0, good.size() / 2 + 10); }},
        {"truncated at a page", [](const std::string& good) { return good.substr(0, 4096); }},
    };
    for (const Damage& d : damages) {
        Database* db = open_variable("world");
        ASSERT_TRUE(db) << d.name;
        fill(db, 200);
        close(db);
        const std::string good = read_file(dir_.file("world.idx"));
        ASSERT_GT(good.size(), 8192u);
        write_file(dir_.file("world.idx"), d.make(good));

        db = open_variable("world");
        ASSERT_TRUE(db) << d.name;
        EXPECT_TRUE(ui_.boxes.empty()) << d.name;
        EXPECT_EQ(database_key_exists(db, "key1"), 0) << d.name;  // both started empty
        EXPECT_EQ(store(db, "key1", "again"), 1) << d.name;
        EXPECT_EQ(fetch(db, "key1"), "again") << d.name;
        close(db);
        std::filesystem::remove(dir_.file("world.dat"));
        std::filesystem::remove(dir_.file("world.idx"));
    }
}

TEST_F(DatabaseTest, AFileOfAnotherShapeIsReplaced) {
    // Same stem, but made with another record length: its records could
    // not fit the callers' buffers.
    Database* db = database_open(dir_.file("download"), 50, 60, 4096, 4096, true, false);
    ASSERT_TRUE(db);
    ASSERT_EQ(store(db, "k", std::string(60, 'w')), 1);
    database_close(db);
    db = open_fixed("download");
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
    for (const Op& op : ops) {
        for (const char* file : {"cache.idx", "cache.dat"}) {
            const std::string name = op.name;
            const bool data_file = std::string(file) == "cache.dat";
            ui_.boxes.clear();
            Database* db = open_variable("cache");
            ASSERT_TRUE(db);
            fill(db, 300);
            damage_open_file(dir_.file(file));
            if (data_file && name != "store") {
                // Asking for a key reads only the index; a record whose
                // length cannot be read counts as not found.
                EXPECT_EQ(op.run(db), name == "key_exists" ? 1 : 0) << name;
                EXPECT_TRUE(ui_.boxes.empty()) << name;
            } else {
                EXPECT_EQ(op.run(db), 0) << name << " " << file;
                ASSERT_EQ(ui_.boxes.size(), 1u) << name << " " << file;
                EXPECT_EQ(ui_.boxes[0].caption, product_name());
                EXPECT_EQ(ui_.boxes[0].text.rfind("An error of type ", 0), 0u) << ui_.boxes[0].text;
                EXPECT_NE(ui_.boxes[0].text.find(std::string(product_name()) + " will attempt to repair"),
                          std::string::npos);
                // Empty and usable again, no journal beside it.
                EXPECT_EQ(database_key_exists(db, "key1"), 0);
                EXPECT_EQ(store(db, "key1", "fresh"), 1);
                EXPECT_EQ(fetch(db, "key1"), "fresh");
                EXPECT_EQ(ui_.boxes.size(), 1u);
                EXPECT_EQ(listing(), (std::vector<std::string>{"cache.dat", "cache.idx"}));
            }
            close(db);
            std::filesystem::remove(dir_.file("cache.dat"));
            std::filesystem::remove(dir_.file("cache.idx"));
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
        Database* db = c.fixed ? open_fixed("mixed") : open_variable("mixed");
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
        std::filesystem::remove(dir_.file("mixed.dat"));
        std::filesystem::remove(dir_.file("mixed.idx"));
    }
}

// Files that another program holds locked are in use, not damaged: the
// lock is waited for, then the operation fails, and nothing is thrown away.
TEST_F(DatabaseTest, FilesLockedElsewhereAreNeverThrownAway) {
    Database* db = open_variable("live");
    ASSERT_TRUE(db);
    ASSERT_EQ(store(db, "k", "kept"), 1);
    // The pair has one opener at a time.
    Database* second = database_open(dir_.file("live"), 32, 0, 16384, 4096, true, false);
    if (second) open_.push_back(second);
    EXPECT_EQ(second, nullptr);
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

TEST_F(DatabaseTest, ResetEmptiesTheDatabaseAndKeepsTheHandle) {
    Database* db = open_variable("cell");
    ASSERT_TRUE(db);
    fill(db, 20);
    database_reset(db);
    EXPECT_EQ(database_key_exists(db, "key3"), 0);
    EXPECT_EQ(store(db, "key3", "again"), 1);
    EXPECT_EQ(fetch(db, "key3"), "again");
    EXPECT_TRUE(ui_.boxes.empty());
    database_reset(nullptr);
}

TEST_F(DatabaseTest, NullHandleAnswersZero) {
    char buffer[4];
    std::vector<uint8_t> data;
    EXPECT_EQ(database_key_exists(nullptr, "k"), 0);
    EXPECT_EQ(database_fetch(nullptr, "k", buffer, sizeof buffer, nullptr), 0);
    EXPECT_EQ(database_fetch_unknown(nullptr, "k", data), 0);
    EXPECT_EQ(database_store(nullptr, "k", "a", 1), 0);
    database_close(nullptr);
}

TEST_F(DatabaseTest, ADatabaseThatCannotBeMadeIsFatal) {
    Database* db = database_open(dir_.file("no/such/dir/cell"), 6, 0, 16384, 4096, false, false);
    EXPECT_EQ(db, nullptr);
    ASSERT_EQ(ui_.boxes.size(), 1u);
    const std::string& text = ui_.boxes[0].text;
    EXPECT_EQ(text.rfind("Sorry, " + std::string(product_name()) + " has encountered a fatal disk error (reason ", 0),
              0u)
        << text;
    EXPECT_NE(text.find("(reason " + std::to_string(isam_err_create) + ")"), std::string::npos) << text;
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

TEST_F(DatabaseTest, OpenParametersReachTheFilesAndEveryCallIsTraced) {
    Database* db = database_open(dir_.file("cell"), 6, 0, 1024, 2048, false, true);
    ASSERT_TRUE(db);
    open_.push_back(db);
    IsamFileInfo data, index;
    ASSERT_EQ(isam_file_info(db->data_file, data), 0);
    ASSERT_EQ(isam_file_info(db->index_file, index), 0);
    EXPECT_EQ(data.extension, 1024);
    EXPECT_EQ(index.extension, 2048);
    EXPECT_EQ(index.key_length, 6);
    EXPECT_EQ(index.key_type, 0);
    EXPECT_NE(db->data_mode & kIsamWriteThrough, 0);
    EXPECT_NE(db->index_mode & kIsamWriteThrough, 0);
    store(db, "m", "body");
    fetch(db, "m");
    const std::string stem = dir_.file("cell");
    const std::string text = log();
    for (std::string line : {"database_open (" + stem + ")", stem + ", CreateIndexFile: 0, 0",
                             "database_store (" + stem + ")", stem + ", AddKey: 0, 0",
                             "database_fetch_unknown (" + stem + ")", stem + ", ReadVData: 0, 0"})
        EXPECT_NE(text.find(": " + line + "\n"), std::string::npos) << line;
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
        int pipe_fds[2];
        ASSERT_EQ(pipe(pipe_fds), 0);
        pid_t child = fork();
        if (child == 0) {
            ::close(pipe_fds[0]);
            Database* db = database_open(dir_.file(stem), 32, 0, 16384, 4096, true, round % 2 == 1);
            if (!db) _exit(2);
            char ready = 1;
            if (write(pipe_fds[1], &ready, 1) != 1) _exit(3);
            // Versions grow so that stores move records across pages.
            for (int v = 1;; ++v) {
                std::string body = "version " + std::to_string(v) + std::string(static_cast<size_t>(v % 5000), '.');
                if (store(db, "the key", body) != 1) _exit(4);
                store(db, "other " + std::to_string(v % 50), body);
            }
        }
        ::close(pipe_fds[1]);
        char ready = 0;
        ASSERT_EQ(read(pipe_fds[0], &ready, 1), 1);
        ::close(pipe_fds[0]);
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
