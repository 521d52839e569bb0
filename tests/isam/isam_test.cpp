#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "isam/isam.h"
#include "support/temp_dir.h"

using namespace zk;
using namespace zk::test;

namespace {

constexpr int kFiles = 8;
constexpr uint16_t kVar = kIsamPermanent | kIsamVariable;
constexpr uint16_t kFixed = kIsamPermanent;

// Whether `body` answers true in a child that dies without closing anything.
template <class F>
bool in_child(F body) {
    const pid_t child = fork();
    if (child == 0) _exit(body() ? 0 : 1);
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class IsamTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(isam_init(64, kFiles, 4), 0); }
    void TearDown() override {
        isam_abort();
        for (uint16_t n = 0; n < kFiles; ++n) isam_close_file(n, 0);
    }
    std::string path(const std::string& name) const { return dir_.file(name); }

    // Data file 0 and its index 1 with `count` records "record <i>" under keys "k<i>".
    void make_pair(const std::string& stem, int count) {
        ASSERT_EQ(isam_create_data_file(0, path(stem + ".dat").c_str(), 0, 16384, kVar), 0);
        ASSERT_EQ(isam_create_index_file(1, path(stem + ".idx").c_str(), 8, kIsamKeyCompressed, 0, 0, 4096, kFixed), 0);
        ASSERT_EQ(isam_begin(), 0);  // one flush, not one per record
        for (int i = 0; i < count; ++i) {
            std::string body = "record " + std::to_string(i) + std::string(static_cast<size_t>(i % 700), 'x');
            const std::string k = key(i);
            IsamPos pos = isam_new_vdata(0, static_cast<uint32_t>(body.size()), own(k));
            ASSERT_NE(pos, 0);
            ASSERT_EQ(isam_write_vdata(0, pos, own(k), body.data(), static_cast<uint32_t>(body.size())), 0);
            ASSERT_EQ(isam_add_key(1, k.data(), pos, 0), 0);
        }
        ASSERT_EQ(isam_commit(), 0);
    }
    int open_pair(const std::string& stem) const {
        if (int rc = isam_open_file(0, path(stem + ".dat").c_str(), kVar)) return rc;
        return isam_open_file(1, path(stem + ".idx").c_str(), kFixed);
    }
    static void close_pair() {
        isam_close_file(0, 0);
        isam_close_file(1, 0);
    }
    static std::string key(int i) {
        std::string k = "k" + std::to_string(i);
        k.resize(8, '\0');
        return k;
    }
    // The key a record belongs to; `k` must outlive the call it is used in.
    static IsamKey own(const std::string& k) { return {k.data(), static_cast<uint16_t>(k.size())}; }
    // Replaces k's record at `old` by a new one as callers do; its position or 0.
    static IsamPos replace(const std::string& k, IsamPos old, const char* body) {
        const IsamPos fresh = isam_new_vdata(0, 5, own(k));
        const bool done = isam_write_vdata(0, fresh, own(k), body, 5) == 0 &&
                          isam_release_vdata(0, old, own(k)) == 0 && isam_delete_key(1, k.data(), old) == 0 &&
                          isam_add_key(1, k.data(), fresh, 0) == 0;
        return done ? fresh : 0;
    }
    // Runs `statements` on a file through a connection of its own.
    static int sql(const std::string& file, const std::string& statements) {
        sqlite3* db = nullptr;
        int rc = sqlite3_open(file.c_str(), &db);
        if (rc == SQLITE_OK) rc = sqlite3_exec(db, statements.c_str(), nullptr, nullptr, nullptr);
        sqlite3_close(db);
        return rc;
    }
    long files() const {
        return std::distance(std::filesystem::directory_iterator(dir_.path()), std::filesystem::directory_iterator{});
    }
    TempDir dir_;
};

}  // namespace

TEST_F(IsamTest, FixedRecordsSurviveCloseAndReopen) {
    ASSERT_EQ(isam_create_data_file(0, path("d.dat").c_str(), 50, 4096, kFixed), 0);
    ASSERT_EQ(isam_create_index_file(1, path("d.idx").c_str(), 50, kIsamKeyCompressed, 0, 0, 4096, kFixed), 0);
    char rec[50], key[50] = "http://example.org/objects/";
    std::memset(rec, 'r', sizeof rec);
    const IsamKey owner{key, sizeof key}, other{key, 8};
    IsamPos pos = isam_new_data(0, owner);
    ASSERT_GT(pos, 0);
    ASSERT_EQ(isam_write_data(0, pos, owner, rec), 0);
    ASSERT_EQ(isam_add_key(1, key, pos, 0), 0);
    close_pair();

    ASSERT_EQ(isam_open_file(3, path("d.dat").c_str(), kFixed), 0);
    ASSERT_EQ(isam_open_file(4, path("d.idx").c_str(), kFixed), 0);
    IsamFileInfo info;
    ASSERT_EQ(isam_file_info(4, info), 0);
    EXPECT_EQ(info.key_type, kIsamKeyCompressed);
    EXPECT_EQ(info.extension, 4096);
    EXPECT_EQ(isam_get_key(4, key), pos);
    char back[50] = {};
    ASSERT_EQ(isam_read_data(3, pos, owner, back), 0);
    EXPECT_EQ(std::memcmp(back, rec, 50), 0);
    // A record answers only to its own key, a prefix of it included.
    EXPECT_EQ(isam_read_data(3, pos, other, back), isam_err_read);
    EXPECT_EQ(isam_write_data(3, pos, other, rec), isam_err_read);
    EXPECT_EQ(isam_new_vdata(3, 10, owner), 0);
    EXPECT_EQ(isam_error(), isam_err_file_number);
}

TEST_F(IsamTest, VariableRecordsLengthsReadsAndRelease) {
    make_pair("v", 0);
    const std::string k = key(0);
    std::string body(3000, 'q');
    body[2999] = 'z';
    IsamPos pos = isam_new_vdata(0, 3000, own(k));
    ASSERT_GT(pos, 0);
    ASSERT_EQ(isam_write_vdata(0, pos, own(k), body.data(), 3000), 0);
    EXPECT_EQ(isam_vdata_length(0, pos, own(k)), 3000u);
    std::string back(3001, '\0');
    ASSERT_EQ(isam_read_vdata(0, pos, own(k), back.data(), 3000), 0);
    EXPECT_EQ(back.substr(0, 3000), body);
    // A shorter read takes the head; a longer one is refused.
    char head[4] = {};
    ASSERT_EQ(isam_read_vdata(0, pos, own(k), head, 4), 0);
    EXPECT_EQ(std::string(head, 4), "qqqq");
    EXPECT_NE(isam_read_vdata(0, pos, own(k), back.data(), 3001), 0);

    EXPECT_EQ(isam_new_vdata(0, 0, own(k)), 0);
    EXPECT_EQ(isam_error(), isam_err_argument);
    EXPECT_EQ(isam_new_vdata(0, kIsamMaxRecord + 1, own(k)), 0);

    ASSERT_EQ(isam_release_vdata(0, pos, own(k)), 0);
    EXPECT_EQ(isam_vdata_length(0, pos, own(k)), 0u);
    EXPECT_EQ(isam_error(), isam_err_position);
    EXPECT_NE(isam_release_vdata(0, pos, own(k)), 0);
    EXPECT_NE(isam_write_vdata(0, pos, own(k), body.data(), 10), 0);
    EXPECT_EQ(isam_vdata_length(0, 9999, own(k)), 0u);
}

TEST_F(IsamTest, KeysAreUniqueAndAbsenceIsNoError) {
    make_pair("k", 3);
    IsamPos p1 = isam_get_key(1, key(1).data());
    ASSERT_GT(p1, 0);
    EXPECT_EQ(isam_add_key(1, key(1).data(), 77, 0), isam_err_duplicate_key);
    // Each call sets the code afresh; absence is no error.
    EXPECT_EQ(isam_get_key(1, key(99).data()), 0);
    EXPECT_EQ(isam_error(), 0);
    // A key is only removed together with the position it points at.
    EXPECT_EQ(isam_delete_key(1, key(1).data(), p1 + 1000), isam_err_key_missing);
    EXPECT_EQ(isam_get_key(1, key(1).data()), p1);
    EXPECT_EQ(isam_delete_key(1, key(1).data(), p1), 0);
    EXPECT_EQ(isam_get_key(1, key(1).data()), 0);
    // Keys are bytes: ones that differ only after a zero are distinct.
    std::string a(8, '\0'), b(8, '\0');
    b[7] = 1;
    ASSERT_EQ(isam_add_key(1, a.data(), 5, 0), 0);
    EXPECT_EQ(isam_get_key(1, b.data()), 0);
    EXPECT_EQ(isam_get_key(1, a.data()), 5);
    // Numbers without a file, and index files, are not data files.
    EXPECT_EQ(isam_get_key(6, a.data()), 0);
    EXPECT_EQ(isam_error(), isam_err_file_number);
    EXPECT_EQ(isam_new_vdata(1, 5, own(a)), 0);
    EXPECT_EQ(isam_error(), isam_err_file_number);
}

TEST_F(IsamTest, FileNumbersAndExclusiveOpening) {
    make_pair("x", 1);
    EXPECT_EQ(isam_available_file(), 2);
    EXPECT_EQ(isam_create_data_file(0, path("y.dat").c_str(), 0, 0, kVar), isam_err_in_use);
    // The same file under a second number is busy (which is not damage).
    EXPECT_EQ(isam_open_file(2, path("x.dat").c_str(), kVar), isam_err_busy);
    EXPECT_EQ(isam_create_data_file(2, path("x.dat").c_str(), 0, 0, kVar), isam_err_create);
    for (uint16_t n = 2; n < kFiles; ++n)
        ASSERT_EQ(isam_create_data_file(n, path("f" + std::to_string(n)).c_str(), 10, 0, kFixed), 0);
    EXPECT_EQ(isam_available_file(), kIsamNoFile);
    ASSERT_EQ(isam_close_file(5, 0), 0);
    EXPECT_EQ(isam_available_file(), 5);
    EXPECT_EQ(isam_open_file(5, path("f5").c_str(), kFixed | kIsamShared), isam_err_argument);
    // Nor can another process take it (its table still has number 5 free).
    EXPECT_TRUE(in_child([&] { return isam_open_file(5, path("x.dat").c_str(), kVar) == isam_err_busy; }));
    // A program holding SQLite's own lock on an open file: calls wait for
    // it, then answer busy, and work again once it is gone.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path("x.dat").c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    const std::string k = key(0);
    const IsamPos pos = isam_get_key(1, k.data());
    EXPECT_EQ(isam_vdata_length(0, pos, own(k)), 0u);
    EXPECT_EQ(isam_error(), isam_err_busy);
    EXPECT_EQ(isam_new_vdata(0, 4, own(k)), 0);
    EXPECT_EQ(isam_error(), isam_err_busy);
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(isam_vdata_length(0, pos, own(k)), 8u);
    EXPECT_EQ(isam_init(64, kFiles, 4), isam_err_in_use);
}

TEST_F(IsamTest, FilesThatAreNotOursGiveErrorsNeverCrashes) {
    make_pair("good", 300);
    close_pair();
    EXPECT_EQ(isam_open_file(0, path("good.dat").c_str(), kFixed), isam_err_not_engine_file);  // the wrong kind
    EXPECT_EQ(isam_open_file(2, path("missing.dat").c_str(), kVar), isam_err_open);
    EXPECT_EQ(isam_open_file(2, dir_.path().c_str(), kVar), isam_err_open);
    const std::string good = read_file(path("good.idx"));
    ASSERT_GT(good.size(), 8192u);

    std::string garbage(8192, '\0'), bad_header = good;
    std::mt19937 rng(7);
    for (char& c : garbage) c = static_cast<char>(rng());
    bad_header[16] = 3;  // an impossible page size
    const std::string cases[] = {garbage, "", good.substr(0, 50), good.substr(0, good.size() / 2 + 100),
                                 good.substr(0, 4096 * 2), bad_header};
    for (size_t i = 0; i < std::size(cases); ++i) {
        write_file(path("bad.idx"), cases[i]);
        EXPECT_NE(isam_open_file(2, path("bad.idx").c_str(), kFixed), 0) << i;
        EXPECT_TRUE(std::filesystem::exists(path("bad.idx"))) << i;
    }

    // Other programs' SQLite files: another schema, a journal mode with side files.
    for (const std::string schema : {"CREATE TABLE records(a, b)", "PRAGMA journal_mode=WAL; CREATE TABLE t(x)"}) {
        std::filesystem::remove(path("other.db"));
        ASSERT_EQ(sql(path("other.db"), schema + "; PRAGMA application_id=1514471424"), SQLITE_OK);
        EXPECT_EQ(isam_open_file(2, path("other.db").c_str(), kVar), isam_err_not_engine_file) << schema;
        EXPECT_FALSE(std::filesystem::exists(path("other.db-wal"))) << schema;
    }
    // The earlier data format, whose records do not name their key: made anew.
    ASSERT_EQ(sql(path("old.dat"), "CREATE TABLE records(pos INTEGER PRIMARY KEY, body BLOB NOT NULL);"
                                   "PRAGMA application_id=1514422272"),  // a data file growing by 16384
              SQLITE_OK);
    EXPECT_EQ(isam_open_file(2, path("old.dat").c_str(), kVar), isam_err_not_engine_file);
}

TEST_F(IsamTest, DamagedPagesAnswerErrorsOrDataNeverCrash) {
    make_pair("dmg", 400);
    close_pair();
    const std::string data = read_file(path("dmg.dat")), index = read_file(path("dmg.idx"));
    int errors = 0;
    for (unsigned seed = 1; seed <= 12; ++seed) {
        std::mt19937 rng(seed);
        std::string d = data, x = index;
        // Damage all but the header page, which the open test damages.
        for (int i = 0; i < 200; ++i) {
            std::string& victim = (i % 2) ? d : x;
            size_t at = 4096 + rng() % (victim.size() - 4096);
            victim[at] = static_cast<char>(rng());
        }
        write_file(path("dmg.dat"), d);
        write_file(path("dmg.idx"), x);
        if (open_pair("dmg") != 0) {
            ++errors;
            close_pair();
            continue;
        }
        char buffer[4096];
        for (int i = 0; i < 400; ++i) {
            const std::string k = key(i);
            const IsamPos pos = isam_get_key(1, k.data());
            const uint32_t length = pos ? isam_vdata_length(0, pos, own(k)) : 0;
            if (length == 0 || length > sizeof buffer)
                errors += isam_error() != 0;
            else
                errors += isam_read_vdata(0, pos, own(k), buffer, length) != 0;
        }
        // Writes into damaged files fail cleanly too.
        isam_begin();
        const std::string k = key(1000);
        const IsamPos pos = isam_new_vdata(0, 10, own(k));
        if (pos) isam_add_key(1, k.data(), pos, 0);
        if (isam_commit() != 0) ++errors;
        close_pair();
    }
    EXPECT_GT(errors, 0);  // the damage was seen, and reported as errors
}

TEST_F(IsamTest, BracketCommitsTogetherAndAbortUndoes) {
    make_pair("b", 2);
    const std::string k = key(0);
    const IsamPos old = isam_get_key(1, k.data());
    ASSERT_GT(old, 0);

    // Abort: nothing of the bracket remains, the released record included.
    ASSERT_EQ(isam_begin(), 0);
    EXPECT_EQ(isam_begin(), isam_err_in_use);
    IsamPos fresh = replace(k, old, "fresh");
    ASSERT_GT(fresh, 0);
    isam_abort();
    EXPECT_EQ(isam_get_key(1, k.data()), old);
    EXPECT_GT(isam_vdata_length(0, old, own(k)), 0u);
    EXPECT_EQ(isam_vdata_length(0, fresh, own(k)), 0u);

    // Commit: the released record is gone at once, and off the disk when it returns.
    ASSERT_EQ(isam_begin(), 0);
    fresh = replace(k, old, "fresh");
    ASSERT_GT(fresh, 0);
    EXPECT_EQ(isam_vdata_length(0, old, own(k)), 0u);
    ASSERT_EQ(isam_commit(), 0);
    EXPECT_EQ(isam_get_key(1, k.data()), fresh);

    // So also for a process that dies without closing the files; reopened, the
    // live records are intact, and new ones never take their places.
    close_pair();
    ASSERT_TRUE(in_child([&] {
        return open_pair("b") == 0 && isam_begin() == 0 && replace(k, fresh, "again") > 0 && isam_commit() == 0;
    }));
    ASSERT_EQ(open_pair("b"), 0);
    EXPECT_EQ(isam_vdata_length(0, old, own(k)), 0u);
    EXPECT_EQ(isam_vdata_length(0, fresh, own(k)), 0u);
    const std::string k1 = key(1), k2 = key(2);
    const IsamPos again = isam_get_key(1, k.data()), other = isam_get_key(1, k1.data());
    const IsamPos added = isam_new_vdata(0, 3, own(k2));
    EXPECT_NE(added, again);
    EXPECT_NE(added, other);
    char body[5] = {};
    ASSERT_EQ(isam_read_vdata(0, again, own(k), body, 5), 0);
    EXPECT_EQ(std::string(body, 5), "again");
    EXPECT_EQ(isam_vdata_length(0, other, own(k1)), 9u);
    // No journal stays beside the files; a deleted file leaves the disk.
    EXPECT_EQ(files(), 2);
    ASSERT_EQ(isam_delete_file(0), 0);
    EXPECT_EQ(files(), 1);
}

// An index row pointing at another key's record (after a lost commit whose
// position was reused) is damage to every call; so is an owner of another shape.
TEST_F(IsamTest, ARecordAnswersOnlyToItsOwnKey) {
    make_pair("own", 2);
    const std::string k0 = key(0), k1 = key(1);
    const IsamPos p1 = isam_get_key(1, k1.data());
    char buffer[8] = {};
    EXPECT_EQ(isam_vdata_length(0, p1, own(k0)), 0u);
    EXPECT_EQ(isam_error(), isam_err_read);
    EXPECT_EQ(isam_read_vdata(0, p1, own(k0), buffer, 4), isam_err_read);
    EXPECT_EQ(isam_write_vdata(0, p1, own(k0), "evil", 4), isam_err_read);
    EXPECT_EQ(isam_release_vdata(0, p1, own(k0)), isam_err_read);

    // Owners damaged on disk: short, long, text of the same bytes, a number, empty.
    isam_close_file(0, 0);
    for (const char* stored : {"x'6b'", "zeroblob(5000)", "CAST(x'6b30000000000000' AS TEXT)", "7", "x''"}) {
        const std::string update = std::string("UPDATE records SET owner=") + stored + " WHERE pos=" +
                                   std::to_string(isam_get_key(1, k0.data()));
        ASSERT_EQ(sql(path("own.dat"), update), SQLITE_OK) << stored;
        ASSERT_EQ(isam_open_file(0, path("own.dat").c_str(), kVar), 0);
        EXPECT_EQ(isam_vdata_length(0, isam_get_key(1, k0.data()), own(k0)), 0u) << stored;
        EXPECT_EQ(isam_error(), isam_err_read) << stored;
        isam_close_file(0, 0);
    }
}
