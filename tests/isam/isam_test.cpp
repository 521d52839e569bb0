#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "isam/isam.h"
#include "support/temp_dir.h"

using namespace zk;
using namespace zk::test;

namespace {

constexpr int kFiles = 8;
constexpr uint16_t kVar = kIsamPermanent | kIsamVariable;
constexpr uint16_t kFixed = kIsamPermanent;

class IsamTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(isam_init(64, kFiles, 4), 0); }
    void TearDown() override {
        isam_abort();
        for (uint16_t n = 0; n < kFiles; ++n) isam_close_file(n, 0);
    }
    std::string path(const std::string& name) const { return dir_.file(name); }

    // A variable data file (0) and its index (1) holding `count` records
    // "record <i>" under 8-byte keys "k<i>".
    void make_pair(const std::string& stem, int count) {
        ASSERT_EQ(isam_create_data_file(0, path(stem + ".dat").c_str(), 0, 16384, kVar), 0);
        ASSERT_EQ(isam_create_index_file(1, path(stem + ".idx").c_str(), 8, kIsamKeyCompressed, 0, 0, 4096,
                                         kIsamPermanent),
                  0);
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
    static std::string key(int i) {
        std::string k = "k" + std::to_string(i);
        k.resize(8, '\0');
        return k;
    }
    // The key a record belongs to; `k` must outlive the call it is used in.
    static IsamKey own(const std::string& k) { return {k.data(), static_cast<uint16_t>(k.size())}; }
    // Rows in a data file, counted through a connection of its own.
    static int rows(const std::string& file) {
        sqlite3* db = nullptr;
        int count = -1;
        const auto read = [](void* out, int, char** row, char**) {
            *static_cast<int*>(out) = atoi(row[0]);
            return 0;
        };
        if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK)
            sqlite3_exec(db, "SELECT count(*) FROM records", read, &count, nullptr);
        sqlite3_close(db);
        return count;
    }
    // Runs `statements` on a file through a connection of its own.
    static int sql(const std::string& file, const std::string& statements) {
        sqlite3* db = nullptr;
        int rc = sqlite3_open(file.c_str(), &db);
        if (rc == SQLITE_OK) rc = sqlite3_exec(db, statements.c_str(), nullptr, nullptr, nullptr);
        sqlite3_close(db);
        return rc;
    }
    std::vector<std::string> listing() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir_.path())) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
    TempDir dir_;
};

}  // namespace

TEST_F(IsamTest, FixedRecordsSurviveCloseAndReopen) {
    ASSERT_EQ(isam_create_data_file(0, path("d.dat").c_str(), 50, 4096, kFixed), 0);
    ASSERT_EQ(isam_create_index_file(1, path("d.idx").c_str(), 50, kIsamKeyCompressed, 0, 0, 4096, kFixed), 0);
    char rec[50], key[50] = "http://example.org/objects/";
    std::memset(rec, 'r', sizeof rec);
    const std::string owner(key, sizeof key);
    IsamPos pos = isam_new_data(0, own(owner));
    ASSERT_GT(pos, 0);
    ASSERT_EQ(isam_write_data(0, pos, own(owner), rec), 0);
    ASSERT_EQ(isam_add_key(1, key, pos, 0), 0);
    ASSERT_EQ(isam_close_file(0, 0), 0);
    ASSERT_EQ(isam_close_file(1, 0), 0);

    ASSERT_EQ(isam_open_file(3, path("d.dat").c_str(), kFixed), 0);
    ASSERT_EQ(isam_open_file(4, path("d.idx").c_str(), kFixed), 0);
    IsamFileInfo info;
    ASSERT_EQ(isam_file_info(3, info), 0);
    EXPECT_FALSE(info.index);
    EXPECT_EQ(info.record_length, 50);
    EXPECT_EQ(info.extension, 4096);
    ASSERT_EQ(isam_file_info(4, info), 0);
    EXPECT_TRUE(info.index);
    EXPECT_EQ(info.key_length, 50);
    EXPECT_EQ(info.key_type, kIsamKeyCompressed);

    EXPECT_EQ(isam_get_key(4, key), pos);
    char back[50] = {};
    ASSERT_EQ(isam_read_data(3, pos, own(owner), back), 0);
    EXPECT_EQ(std::memcmp(back, rec, 50), 0);
    // Rewriting in place keeps the position.
    std::memset(rec, 's', sizeof rec);
    ASSERT_EQ(isam_write_data(3, pos, own(owner), rec), 0);
    ASSERT_EQ(isam_read_data(3, pos, own(owner), back), 0);
    EXPECT_EQ(back[49], 's');
    // Variable-length calls on a fixed file are refused.
    EXPECT_EQ(isam_new_vdata(3, 10, own(owner)), 0);
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
    std::string back(3000, '\0');
    ASSERT_EQ(isam_read_vdata(0, pos, own(k), back.data(), 3000), 0);
    EXPECT_EQ(back, body);
    // A shorter read takes the head; a longer one is refused.
    char head[4] = {};
    ASSERT_EQ(isam_read_vdata(0, pos, own(k), head, 4), 0);
    EXPECT_EQ(std::string(head, 4), "qqqq");
    std::string more(3001, '\0');
    EXPECT_NE(isam_read_vdata(0, pos, own(k), more.data(), 3001), 0);

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
    EXPECT_EQ(isam_error(), 0);
    EXPECT_EQ(isam_get_key(1, key(99).data()), 0);
    EXPECT_EQ(isam_error(), 0);
    EXPECT_EQ(isam_add_key(1, key(1).data(), 77, 0), isam_err_duplicate_key);
    EXPECT_EQ(isam_error(), isam_err_duplicate_key);
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
    // Each call sets the code afresh.
    EXPECT_EQ(isam_get_key(6, a.data()), 0);
    EXPECT_EQ(isam_error(), isam_err_file_number);
    EXPECT_EQ(isam_get_key(1, a.data()), 5);
    EXPECT_EQ(isam_error(), 0);
    // An index file is not a data file.
    EXPECT_EQ(isam_new_vdata(1, 5, own(a)), 0);
    EXPECT_EQ(isam_error(), isam_err_file_number);
}

TEST_F(IsamTest, FileNumbersAndExclusiveOpening) {
    make_pair("x", 1);
    EXPECT_EQ(isam_available_file(), 2);
    EXPECT_EQ(isam_create_data_file(0, path("y.dat").c_str(), 0, 0, kVar), isam_err_in_use);
    // The same file under a second number is refused while it is open: it
    // is busy, which is not damage.
    EXPECT_EQ(isam_open_file(2, path("x.dat").c_str(), kVar), isam_err_busy);
    // So is creating over an existing file.
    EXPECT_EQ(isam_create_data_file(2, path("x.dat").c_str(), 0, 0, kVar), isam_err_create);
    for (uint16_t n = 2; n < kFiles; ++n)
        ASSERT_EQ(isam_create_data_file(n, path("f" + std::to_string(n)).c_str(), 10, 0, kFixed), 0);
    EXPECT_EQ(isam_available_file(), kIsamNoFile);
    EXPECT_NE(isam_error(), 0);
    ASSERT_EQ(isam_close_file(5, 0), 0);
    EXPECT_EQ(isam_available_file(), 5);
    // Shared opening is not offered.
    EXPECT_EQ(isam_open_file(5, path("f5").c_str(), kFixed | kIsamShared), isam_err_argument);
    // Another process cannot take an open file either.
    pid_t child = fork();
    if (child == 0) {
        // The child's copy of the table still has number 5 free.
        _exit(isam_open_file(5, path("x.dat").c_str(), kVar) == isam_err_busy ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
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
    // Re-initialising is refused while files are open.
    EXPECT_EQ(isam_init(64, kFiles, 4), isam_err_in_use);
}

TEST_F(IsamTest, FilesThatAreNotOursGiveErrorsNeverCrashes) {
    make_pair("good", 300);
    isam_close_file(0, 0);
    isam_close_file(1, 0);
    EXPECT_EQ(isam_open_file(0, path("good.dat").c_str(), kFixed), isam_err_not_engine_file);  // the wrong kind
    EXPECT_EQ(isam_open_file(2, path("missing.dat").c_str(), kVar), isam_err_open);
    EXPECT_EQ(isam_open_file(2, dir_.path().c_str(), kVar), isam_err_open);
    EXPECT_EQ(isam_open_file(0, path("good.dat").c_str(), kVar), 0);
    const std::string good = read_file(path("good.idx"));
    ASSERT_GT(good.size(), 8192u);

    struct Case {
        const char* name;
        std::string bytes;
    };
    std::string garbage(8192, '\0');
    std::mt19937 rng(7);
    for (char& c : garbage) c = static_cast<char>(rng());
    std::string flipped_header = good;
    flipped_header[16] = 3;  // an impossible page size
    std::vector<Case> cases = {
        {"garbage", garbage},
        {"empty", ""},
        {"short", good.substr(0, 50)},
        {"cut mid-page", good.substr(0, good.size() / 2 + 100)},
        {"cut at a page", good.substr(0, 4096 * 2)},
        {"bad header", flipped_header},
    };
    for (const Case& c : cases) {
        write_file(path("bad.idx"), c.bytes);
        EXPECT_NE(isam_open_file(2, path("bad.idx").c_str(), kIsamPermanent), 0) << c.name;
        EXPECT_NE(isam_error(), 0) << c.name;
        EXPECT_TRUE(std::filesystem::exists(path("bad.idx"))) << c.name;
    }

    // SQLite files of other programs: another schema, or a journal mode
    // that keeps side files.
    for (const std::string schema : {"CREATE TABLE records(a, b)", "PRAGMA journal_mode=WAL; CREATE TABLE t(x)"}) {
        std::filesystem::remove(path("other.db"));
        ASSERT_EQ(sql(path("other.db"), schema + "; PRAGMA application_id=1514471424"), SQLITE_OK);
        EXPECT_EQ(isam_open_file(2, path("other.db").c_str(), kVar), isam_err_not_engine_file) << schema;
        EXPECT_FALSE(std::filesystem::exists(path("other.db-wal"))) << schema;
        EXPECT_FALSE(std::filesystem::exists(path("other.db-shm"))) << schema;
    }
    // A data file of the earlier format, whose records do not name their
    // key: refused, so that its owner makes it anew.
    ASSERT_EQ(sql(path("old.dat"), "CREATE TABLE records(pos INTEGER PRIMARY KEY, body BLOB NOT NULL);"
                                   "PRAGMA application_id=1514422272"),  // a data file growing by 16384
              SQLITE_OK);
    EXPECT_EQ(isam_open_file(2, path("old.dat").c_str(), kVar), isam_err_not_engine_file);
}

TEST_F(IsamTest, DamagedPagesAnswerErrorsOrDataNeverCrash) {
    make_pair("dmg", 400);
    isam_close_file(0, 0);
    isam_close_file(1, 0);
    const std::string data = read_file(path("dmg.dat"));
    const std::string index = read_file(path("dmg.idx"));
    int errors = 0;
    for (unsigned seed = 1; seed <= 12; ++seed) {
        std::mt19937 rng(seed);
        std::string d = data, x = index;
        // Damage everything but the header page, where SQLite keeps the
        // schema; a damaged header is the open test's business.
        for (int i = 0; i < 200; ++i) {
            std::string& victim = (i % 2) ? d : x;
            size_t at = 4096 + rng() % (victim.size() - 4096);
            victim[at] = static_cast<char>(rng());
        }
        write_file(path("dmg.dat"), d);
        write_file(path("dmg.idx"), x);
        if (isam_open_file(0, path("dmg.dat").c_str(), kVar) != 0 ||
            isam_open_file(1, path("dmg.idx").c_str(), kIsamPermanent) != 0) {
            ++errors;
            isam_close_file(0, 0);
            continue;
        }
        std::vector<char> buffer(kIsamMaxRecord > 4096 ? 4096 : 0);
        for (int i = 0; i < 400; ++i) {
            const std::string k = key(i);
            IsamPos pos = isam_get_key(1, k.data());
            if (pos == 0) {
                errors += isam_error() != 0;
                continue;
            }
            uint32_t length = isam_vdata_length(0, pos, own(k));
            if (length == 0 || length > buffer.size()) {
                errors += isam_error() != 0;
                continue;
            }
            errors += isam_read_vdata(0, pos, own(k), buffer.data(), length) != 0;
        }
        // Writes into damaged files fail cleanly too.
        isam_begin();
        IsamPos pos = isam_new_vdata(0, 10, own(key(1000)));
        if (pos) isam_add_key(1, key(1000).data(), pos, 0);
        if (isam_commit() != 0) ++errors;
        isam_close_file(0, 0);
        isam_close_file(1, 0);
    }
    EXPECT_GT(errors, 0);  // the damage was seen, and reported as errors
}

TEST_F(IsamTest, NoJournalStaysBesideTheFiles) {
    make_pair("j", 20);
    const std::string k = key(500);
    ASSERT_EQ(isam_begin(), 0);
    IsamPos pos = isam_new_vdata(0, 100, own(k));
    ASSERT_EQ(isam_write_vdata(0, pos, own(k), std::string(100, 'a').data(), 100), 0);
    ASSERT_EQ(isam_add_key(1, k.data(), pos, 0), 0);
    ASSERT_EQ(isam_commit(), 0);
    EXPECT_EQ(listing(), (std::vector<std::string>{"j.dat", "j.idx"}));
    ASSERT_EQ(isam_release_vdata(0, pos, own(k)), 0);
    EXPECT_EQ(listing(), (std::vector<std::string>{"j.dat", "j.idx"}));
    ASSERT_EQ(isam_delete_file(0), 0);
    EXPECT_EQ(listing(), (std::vector<std::string>{"j.idx"}));
}

TEST_F(IsamTest, BracketCommitsTogetherAndAbortUndoes) {
    make_pair("b", 2);
    const std::string k = key(0);
    const IsamPos old = isam_get_key(1, k.data());
    ASSERT_GT(old, 0);

    // Abort: nothing of the bracket remains, the released record included.
    ASSERT_EQ(isam_begin(), 0);
    EXPECT_EQ(isam_begin(), isam_err_in_use);
    IsamPos fresh = isam_new_vdata(0, 5, own(k));
    ASSERT_EQ(isam_write_vdata(0, fresh, own(k), "fresh", 5), 0);
    ASSERT_EQ(isam_release_vdata(0, old, own(k)), 0);
    ASSERT_EQ(isam_delete_key(1, k.data(), old), 0);
    ASSERT_EQ(isam_add_key(1, k.data(), fresh, 0), 0);
    isam_abort();
    EXPECT_EQ(isam_get_key(1, k.data()), old);
    EXPECT_GT(isam_vdata_length(0, old, own(k)), 0u);
    EXPECT_EQ(isam_vdata_length(0, fresh, own(k)), 0u);
    EXPECT_EQ(rows(path("b.dat")), 2);

    // Commit: the released record leaves the disk once the key change is
    // durable, before the call returns.
    ASSERT_EQ(isam_begin(), 0);
    fresh = isam_new_vdata(0, 5, own(k));
    ASSERT_EQ(isam_write_vdata(0, fresh, own(k), "fresh", 5), 0);
    ASSERT_EQ(isam_release_vdata(0, old, own(k)), 0);
    EXPECT_EQ(isam_vdata_length(0, old, own(k)), 0u);  // gone for callers at once
    ASSERT_EQ(isam_delete_key(1, k.data(), old), 0);
    ASSERT_EQ(isam_add_key(1, k.data(), fresh, 0), 0);
    ASSERT_EQ(isam_commit(), 0);
    EXPECT_EQ(isam_get_key(1, k.data()), fresh);
    EXPECT_EQ(rows(path("b.dat")), 2);

    // So also for a process that dies without closing the files.
    ASSERT_EQ(isam_close_file(0, 0), 0);
    ASSERT_EQ(isam_close_file(1, 0), 0);
    pid_t child = fork();
    if (child == 0) {
        bool fine = isam_open_file(0, path("b.dat").c_str(), kVar) == 0 &&
                    isam_open_file(1, path("b.idx").c_str(), kIsamPermanent) == 0 && isam_begin() == 0;
        const IsamPos again = isam_new_vdata(0, 5, own(k));
        fine = fine && isam_write_vdata(0, again, own(k), "again", 5) == 0 &&
               isam_release_vdata(0, fresh, own(k)) == 0 && isam_delete_key(1, k.data(), fresh) == 0 &&
               isam_add_key(1, k.data(), again, 0) == 0 && isam_commit() == 0;
        _exit(fine ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(rows(path("b.dat")), 2);
    // Reopened, the live records are intact and new ones never take their
    // places.
    ASSERT_EQ(isam_open_file(0, path("b.dat").c_str(), kVar), 0);
    ASSERT_EQ(isam_open_file(1, path("b.idx").c_str(), kIsamPermanent), 0);
    const std::string k1 = key(1), k2 = key(2);
    const IsamPos again = isam_get_key(1, k.data()), other = isam_get_key(1, k1.data());
    const IsamPos added = isam_new_vdata(0, 3, own(k2));
    EXPECT_NE(added, again);
    EXPECT_NE(added, other);
    char body[5] = {};
    ASSERT_EQ(isam_read_vdata(0, again, own(k), body, 5), 0);
    EXPECT_EQ(std::string(body, 5), "again");
    EXPECT_EQ(isam_vdata_length(0, other, own(k1)), 9u);
}

// An index row pointing at another key's record, as one can after a lost
// commit whose position was then reused, is damage to every record call;
// so is an owner that the file holds in any other shape.
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
    EXPECT_EQ(isam_read_vdata(0, p1, IsamKey{k1.data(), 2}, buffer, 4), isam_err_read);  // a prefix
    ASSERT_EQ(isam_read_vdata(0, p1, own(k1), buffer, 8), 0);
    EXPECT_EQ(std::string(buffer, 8), "record 1");
    // Fixed records alike.
    ASSERT_EQ(isam_create_data_file(2, path("own.fix").c_str(), 8, 4096, kFixed), 0);
    const IsamPos fixed = isam_new_data(2, own(k1));
    ASSERT_EQ(isam_write_data(2, fixed, own(k1), "fixed 01"), 0);
    EXPECT_EQ(isam_read_data(2, fixed, own(k0), buffer), isam_err_read);
    EXPECT_EQ(isam_write_data(2, fixed, own(k0), "evil 001"), isam_err_read);
    ASSERT_EQ(isam_read_data(2, fixed, own(k1), buffer), 0);
    EXPECT_EQ(std::string(buffer, 8), "fixed 01");

    // Owners damaged on disk: shorter, longer, text of the same bytes, a
    // number, empty.
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
