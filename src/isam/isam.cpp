#include "isam/isam.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "common/bytes.h"

namespace zk {

namespace {

// application_id: kind in the high half, growth step in the low half.
constexpr uint32_t kDataKind = 0x5a440000u;   // "ZD"
constexpr uint32_t kIndexKind = 0x5a490000u;  // "ZI"

// Each record carries the key it belongs to, so that an index row left
// pointing at a position another key now uses is caught, not believed.
constexpr const char* kDataSchema =
    "CREATE TABLE records(pos INTEGER PRIMARY KEY, owner BLOB NOT NULL, body BLOB NOT NULL)";
constexpr const char* kIndexSchema =
    "CREATE TABLE keys(key BLOB PRIMARY KEY, pos INTEGER NOT NULL) WITHOUT ROWID";

enum Stmt {
    st_begin,
    st_commit,
    st_rollback,
    // data files
    st_insert,
    st_select,
    st_update,
    st_delete,
    st_owner,
    // index files
    st_get,
    st_add,
    st_remove,
    st_count
};

struct File {
    bool open = false;
    bool index = false;
    sqlite3* db = nullptr;
    int lock_fd = -1;
    std::string path;
    int record_length = 0;
    uint16_t key_length = 0, key_type = 0, extension = 0;
    sqlite3_stmt* stmt[st_count] = {};
    bool in_txn = false;          // holds a transaction of the current bracket
    IsamPos held = 0;             // st_select stands on this record's row
    std::vector<IsamPos> released;      // committed releases whose removal failed, retried
    std::vector<IsamPos> released_new;  // releases of the current bracket
    std::vector<IsamPos> releasing;     // removed inside the open transaction
};

bool g_ready = false;
int g_buffers = 512;
std::vector<File> g_files;
int g_err = 0, g_err2 = 0;
bool g_bracket = false;
std::vector<uint16_t> g_touched;  // files written in the bracket, in first-write order

int fail(int code, int secondary) {
    g_err = code;
    g_err2 = secondary;
    return code;
}

void ok() {
    g_err = 0;
    g_err2 = 0;
}

// How long a lock held by another program is waited for.
constexpr int kBusyWaitMs = 500;
constexpr int kLockPollMs = 10;

bool damage(int rc) {
    int primary = rc & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB || primary == SQLITE_FORMAT;
}

bool busy(int rc) {
    int primary = rc & 0xff;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

// Engine code for a failed SQLite call: damage reads as damage whatever the
// call was; a lock held elsewhere, or running out of memory, as such.
int sqlite_fail(int code, int rc) {
    if ((rc & 0xff) == SQLITE_NOMEM) return fail(isam_err_memory, rc);
    if (damage(rc)) return fail(isam_err_read, rc);
    if (busy(rc)) return fail(isam_err_busy, rc);
    return fail(code, rc);
}

// The same while opening, where damage means the file is not one of ours.
int open_code(int rc) {
    if (damage(rc)) return isam_err_not_engine_file;
    return busy(rc) ? isam_err_busy : isam_err_open;
}

bool valid_owner(IsamKey owner) { return owner.bytes && owner.length >= 1 && owner.length <= kIsamMaxKey; }

// Whether the blob in the statement's column is exactly the key's bytes.
bool owned_by(sqlite3_stmt* s, int column, IsamKey owner) {
    if (sqlite3_column_type(s, column) != SQLITE_BLOB) return false;
    const void* bytes = sqlite3_column_blob(s, column);
    return bytes && sqlite3_column_bytes(s, column) == owner.length &&
           std::memcmp(bytes, owner.bytes, owner.length) == 0;
}

File* file_of(uint16_t n, bool want_index) {
    if (!g_ready || n >= g_files.size() || !g_files[n].open || g_files[n].index != want_index) {
        fail(isam_err_file_number, n);
        return nullptr;
    }
    return &g_files[n];
}

void release_held(File& f) {
    if (f.held) {
        sqlite3_reset(f.stmt[st_select]);
        f.held = 0;
    }
}

bool is_released(const File& f, IsamPos pos) {
    return std::find(f.released.begin(), f.released.end(), pos) != f.released.end() ||
           std::find(f.released_new.begin(), f.released_new.end(), pos) != f.released_new.end();
}

// Runs a prepared statement once with its bound values; answers the step's
// result and leaves the statement reset, bindings cleared.
int run(sqlite3_stmt* s) {
    int rc = sqlite3_step(s);
    int reset_rc = sqlite3_reset(s);
    sqlite3_clear_bindings(s);
    if (rc == SQLITE_DONE || rc == SQLITE_ROW) return reset_rc == SQLITE_OK ? rc : reset_rc;
    return reset_rc != SQLITE_OK ? reset_rc : rc;
}

int exec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

void close_handles(File& f) {
    for (auto*& s : f.stmt) {
        sqlite3_finalize(s);
        s = nullptr;
    }
    if (f.db) sqlite3_close_v2(f.db);
    f.db = nullptr;
    // Only after SQLite let go: closing any descriptor of the file drops the
    // process's POSIX locks on it.
    if (f.lock_fd >= 0) close(f.lock_fd);
    f.lock_fd = -1;
}

void forget(File& f) {
    close_handles(f);
    f = File{};
}

std::string journal_of(const std::string& path) { return path + "-journal"; }

// Takes the file for this opener alone; another process, or another number
// of this one, is waited for a little and then refused as busy.
int lock_file(File& f, int fd) {
    f.lock_fd = fd;
    for (int waited = 0;; waited += kLockPollMs) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return 0;
        const int err = errno;
        if (err != EWOULDBLOCK && err != EINTR) return fail(isam_err_open, err);
        if (waited >= kBusyWaitMs) return fail(isam_err_busy, err);
        usleep(kLockPollMs * 1000);
    }
}

// Files in write-ahead-log mode keep side files; ours never are, and
// opening such a file would leave those beside it.
bool foreign_journal_mode(int fd) {
    unsigned char h[20];
    if (pread(fd, h, sizeof h, 0) != static_cast<ssize_t>(sizeof h)) return false;
    return h[18] != 1 || h[19] != 1;
}

// After SQLite has read the file (and rolled back a crashed write): the
// header's page count must fit the file, and the file hold whole pages.
bool header_fits(int fd) {
    unsigned char h[100];
    struct stat st {};
    if (fstat(fd, &st) != 0 || pread(fd, h, sizeof h, 0) != static_cast<ssize_t>(sizeof h)) return false;
    if (std::memcmp(h, "SQLite format 3", 16) != 0) return false;
    uint32_t page = load_be16(h + 16);
    if (page == 1) page = 65536;
    if (page < 512 || (page & (page - 1)) != 0) return false;
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    if (size % page != 0) return false;
    if (load_be32(h + 24) == load_be32(h + 92) && static_cast<uint64_t>(load_be32(h + 28)) * page > size) return false;
    return true;
}

int query_int(sqlite3* db, const char* sql, int64_t& out) {
    sqlite3_stmt* s = nullptr;
    int rc = sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
    if (rc != SQLITE_OK) return rc;
    rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) {
        out = sqlite3_column_int64(s, 0);
        rc = SQLITE_OK;
    } else if (rc == SQLITE_DONE) {
        rc = SQLITE_CORRUPT;
    }
    sqlite3_finalize(s);
    return rc;
}

// The one table, exactly as this engine made it.
int schema_matches(sqlite3* db, bool index, bool& matches) {
    matches = false;
    sqlite3_stmt* s = nullptr;
    int rc = sqlite3_prepare_v2(db, "SELECT type, sql FROM sqlite_schema", -1, &s, nullptr);
    if (rc != SQLITE_OK) return rc;
    int rows = 0;
    bool same = false;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        ++rows;
        const char* type = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
        const char* sql = reinterpret_cast<const char*>(sqlite3_column_text(s, 1));
        same = type && sql && std::strcmp(type, "table") == 0 &&
               std::strcmp(sql, index ? kIndexSchema : kDataSchema) == 0;
    }
    sqlite3_finalize(s);
    if (rc != SQLITE_DONE) return rc;
    matches = rows == 1 && same;
    return SQLITE_OK;
}

// Connection settings every file gets, new or old.
int configure(File& f, uint16_t mode) {
    sqlite3_extended_result_codes(f.db, 1);
    sqlite3_db_config(f.db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(f.db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_busy_timeout(f.db, kBusyWaitMs);
    // NORMAL flushes the journal, then the file, before a commit ends, and a
    // commit's new journal flushes the directory, where the journal of the
    // one before was removed: commits reach the disk whole and in order.
    // EXTRA also flushes that removal, so that a commit stays once it returns.
    std::string pragmas = "PRAGMA secure_delete=OFF; PRAGMA cell_size_check=ON; PRAGMA cache_size=" +
                          std::to_string(g_buffers) + "; PRAGMA synchronous=" +
                          ((mode & kIsamWriteThrough) ? "EXTRA" : "NORMAL") + ";";
    return exec(f.db, pragmas.c_str());
}

// Journal handling and the growth step, once the file is known to be ours.
int finish_setup(File& f) {
    int64_t dummy = 0;
    // DELETE keeps no journal beside the file between transactions.
    if (int rc = query_int(f.db, "PRAGMA journal_mode=DELETE", dummy); rc != SQLITE_OK) return rc;
    if (f.extension >= 512) {
        int chunk = f.extension;
        sqlite3_file_control(f.db, "main", SQLITE_FCNTL_CHUNK_SIZE, &chunk);
    }
    static const char* const kShared[3] = {"BEGIN IMMEDIATE", "COMMIT", "ROLLBACK"};
    for (int i = 0; i < 3; ++i)
        if (int rc = sqlite3_prepare_v3(f.db, kShared[i], -1, SQLITE_PREPARE_PERSISTENT, &f.stmt[i], nullptr);
            rc != SQLITE_OK)
            return rc;
    struct Sql {
        Stmt id;
        const char* text;
    };
    static const Sql kData[] = {{st_insert, "INSERT INTO records(owner, body) VALUES(?1, ?2)"},
                                {st_select, "SELECT owner, body FROM records WHERE pos=?1"},
                                {st_update, "UPDATE records SET body=?2 WHERE pos=?1 AND owner=?3"},
                                {st_delete, "DELETE FROM records WHERE pos=?1"},
                                {st_owner, "SELECT owner FROM records WHERE pos=?1"}};
    static const Sql kIndex[] = {{st_get, "SELECT pos FROM keys WHERE key=?1"},
                                 {st_add, "INSERT INTO keys(key, pos) VALUES(?1, ?2)"},
                                 {st_remove, "DELETE FROM keys WHERE key=?1 AND pos=?2"}};
    const Sql* list = f.index ? kIndex : kData;
    const size_t n = f.index ? std::size(kIndex) : std::size(kData);
    for (size_t i = 0; i < n; ++i)
        if (int rc = sqlite3_prepare_v3(f.db, list[i].text, -1, SQLITE_PREPARE_PERSISTENT, &f.stmt[list[i].id],
                                        nullptr);
            rc != SQLITE_OK)
            return rc;
    return SQLITE_OK;
}

int check_new_file_number(uint16_t n) {
    if (!g_ready) return fail(isam_err_not_initialised, 0);
    if (n >= g_files.size()) return fail(isam_err_file_number, n);
    if (g_files[n].open) return fail(isam_err_in_use, n);
    return 0;
}

// Makes the file's pending writes part of the current bracket, or lets
// them go straight to disk outside one; removes releases whose removal
// failed before.
int write_begin(uint16_t n, File& f) {
    release_held(f);
    if (g_bracket && !f.in_txn) {
        if (int rc = run(f.stmt[st_begin]); rc != SQLITE_DONE) return sqlite_fail(isam_err_write, rc);
        f.in_txn = true;
        g_touched.push_back(n);
    }
    while (!f.released.empty()) {
        sqlite3_bind_int64(f.stmt[st_delete], 1, f.released.back());
        if (int rc = run(f.stmt[st_delete]); rc != SQLITE_DONE) return sqlite_fail(isam_err_write, rc);
        if (f.in_txn) f.releasing.push_back(f.released.back());
        f.released.pop_back();
    }
    return 0;
}

void rollback(File& f) {
    if (f.in_txn && f.db && !sqlite3_get_autocommit(f.db)) run(f.stmt[st_rollback]);
    f.in_txn = false;
    f.released_new.clear();
    // Their removal was undone with the rest; they are due again.
    f.released.insert(f.released.end(), f.releasing.begin(), f.releasing.end());
    f.releasing.clear();
}

void leave_bracket(uint16_t n) {
    g_touched.erase(std::remove(g_touched.begin(), g_touched.end(), n), g_touched.end());
}

// Removes the file's committed releases in one transaction of their own;
// what cannot be removed stays listed for the next write or the close.
int remove_released(File& f) {
    if (f.released.empty()) return 0;
    release_held(f);
    int rc = run(f.stmt[st_begin]);
    for (auto it = f.released.begin(); rc == SQLITE_DONE && it != f.released.end(); ++it) {
        sqlite3_bind_int64(f.stmt[st_delete], 1, *it);
        rc = run(f.stmt[st_delete]);
    }
    if (rc == SQLITE_DONE) rc = run(f.stmt[st_commit]);
    if (rc == SQLITE_DONE) {
        f.released.clear();
        return 0;
    }
    if (!sqlite3_get_autocommit(f.db)) run(f.stmt[st_rollback]);
    return sqlite_fail(isam_err_write, rc);
}

// Answers SQLITE_ROW with the statement standing on the record, or
// SQLITE_DONE when there is none.
int select_record(File& f, IsamPos pos) {
    if (f.held == pos) return SQLITE_ROW;
    release_held(f);
    sqlite3_stmt* s = f.stmt[st_select];
    sqlite3_bind_int64(s, 1, pos);
    int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) {
        f.held = pos;
        return rc;
    }
    int reset_rc = sqlite3_reset(s);
    return rc == SQLITE_DONE ? (reset_rc == SQLITE_OK ? rc : reset_rc) : rc;
}

// A record that is there but belongs to another key is damage.
int foreign_record() { return fail(isam_err_read, SQLITE_CORRUPT); }

// Selects the owner's record at `pos` and hands out its bytes (valid until
// the row is released); 0, or the engine error that was recorded.
int select_body(File& f, IsamPos pos, IsamKey owner, const void** body, int* bytes) {
    const int rc = select_record(f, pos);
    if (rc == SQLITE_DONE) return fail(isam_err_position, 0);
    if (rc != SQLITE_ROW) return sqlite_fail(isam_err_read, rc);
    if (!owned_by(f.stmt[st_select], 0, owner)) {
        release_held(f);
        return foreign_record();
    }
    *body = sqlite3_column_blob(f.stmt[st_select], 1);
    *bytes = sqlite3_column_bytes(f.stmt[st_select], 1);
    return 0;
}

// Whether the owner's record is at `pos`: 0, or the engine error recorded.
int check_owner(File& f, IsamPos pos, IsamKey owner) {
    release_held(f);
    sqlite3_stmt* s = f.stmt[st_owner];
    sqlite3_bind_int64(s, 1, pos);
    int rc = sqlite3_step(s);
    const bool mine = rc == SQLITE_ROW && owned_by(s, 0, owner);
    int reset_rc = sqlite3_reset(s);
    sqlite3_clear_bindings(s);
    if (rc == SQLITE_ROW && reset_rc == SQLITE_OK) return mine ? 0 : foreign_record();
    if (rc == SQLITE_DONE && reset_rc == SQLITE_OK) return fail(isam_err_position, 0);
    return sqlite_fail(isam_err_read, rc == SQLITE_ROW || rc == SQLITE_DONE ? reset_rc : rc);
}

}  // namespace

int isam_init(int buffers, int files, int /*sectors_per_node*/) {
    for (const File& f : g_files)
        if (f.open) return fail(isam_err_in_use, 0);
    if (buffers < 1 || files < 1 || files >= kIsamNoFile) return fail(isam_err_argument, 0);
    if (sqlite3_initialize() != SQLITE_OK) return fail(isam_err_not_initialised, 0);
    g_buffers = buffers;
    g_files.assign(static_cast<size_t>(files), File{});
    g_bracket = false;
    g_touched.clear();
    g_ready = true;
    ok();
    return 0;
}

uint16_t isam_available_file() {
    if (!g_ready) {
        fail(isam_err_not_initialised, 0);
        return kIsamNoFile;
    }
    for (size_t i = 0; i < g_files.size(); ++i)
        if (!g_files[i].open) {
            ok();
            return static_cast<uint16_t>(i);
        }
    fail(isam_err_file_number, 0);
    return kIsamNoFile;
}

int isam_open_file(uint16_t n, const char* path, uint16_t mode) {
    ok();
    if (int rc = check_new_file_number(n)) return rc;
    if (!path || (mode & kIsamShared)) return fail(isam_err_argument, 0);
    File f;
    f.path = path;
    int fd = ::open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) return fail(isam_err_open, errno);
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return fail(isam_err_open, EINVAL);
    }
    if (int rc = lock_file(f, fd)) {
        close_handles(f);
        return rc;
    }
    if (foreign_journal_mode(fd)) {
        close_handles(f);
        return fail(isam_err_not_engine_file, 0);
    }
    auto refuse = [&](int code, int secondary) {
        close_handles(f);
        return fail(code, secondary);
    };
    int rc = sqlite3_open_v2(path, &f.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) return refuse(isam_err_open, rc);
    if ((rc = configure(f, mode)) != SQLITE_OK) return refuse(open_code(rc), rc);

    int64_t app = 0, version = 0;
    if ((rc = query_int(f.db, "PRAGMA application_id", app)) != SQLITE_OK ||
        (rc = query_int(f.db, "PRAGMA user_version", version)) != SQLITE_OK)
        return refuse(open_code(rc), rc);
    const uint32_t id = static_cast<uint32_t>(app);
    const uint32_t kind = id & 0xffff0000u;
    if (kind != kDataKind && kind != kIndexKind) return refuse(isam_err_not_engine_file, 0);
    f.index = kind == kIndexKind;
    f.extension = static_cast<uint16_t>(id & 0xffff);
    if (f.index) {
        f.key_length = static_cast<uint16_t>(version & 0xffff);
        f.key_type = static_cast<uint16_t>((version >> 16) & 0xff);
        if (f.key_length < 1 || f.key_length > kIsamMaxKey || (version >> 24) != 0 ||
            (f.key_type != kIsamKeyPlain && f.key_type != kIsamKeyCompressed))
            return refuse(isam_err_not_engine_file, 0);
    } else {
        if (version < 0 || version > 32767) return refuse(isam_err_not_engine_file, 0);
        f.record_length = static_cast<int>(version);
        // The caller's idea of the file must match the file.
        if (((mode & kIsamVariable) != 0) != (f.record_length == 0)) return refuse(isam_err_not_engine_file, 0);
    }
    bool matches = false;
    if ((rc = schema_matches(f.db, f.index, matches)) != SQLITE_OK)
        return refuse(open_code(rc), rc);
    if (!matches || !header_fits(fd)) return refuse(isam_err_not_engine_file, 0);
    if ((rc = finish_setup(f)) != SQLITE_OK) return refuse(open_code(rc), rc);

    f.open = true;
    g_files[n] = std::move(f);
    return 0;
}

namespace {

int create_file(uint16_t n, File& f, uint16_t mode, uint32_t kind, int64_t version, int page_size) {
    // A journal left by a crashed writer of an earlier file of this name
    // would be played back into the new one.
    const std::string journal = journal_of(f.path);
    if (unlink(journal.c_str()) != 0 && errno != ENOENT) return fail(isam_err_create, errno);
    int fd = ::open(f.path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return fail(isam_err_create, errno);
    auto undo = [&](int secondary) {
        close_handles(f);
        unlink(f.path.c_str());
        unlink(journal.c_str());
        return fail(isam_err_create, secondary);
    };
    if (lock_file(f, fd)) return undo(g_err2);
    int rc = sqlite3_open_v2(f.path.c_str(), &f.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) return undo(rc);
    if ((rc = configure(f, mode)) != SQLITE_OK) return undo(rc);
    std::string setup = "PRAGMA page_size=" + std::to_string(page_size) + "; BEGIN; " +
                        (f.index ? kIndexSchema : kDataSchema) + "; PRAGMA application_id=" +
                        std::to_string(static_cast<int32_t>(kind | f.extension)) +
                        "; PRAGMA user_version=" + std::to_string(version) + "; COMMIT;";
    if ((rc = exec(f.db, setup.c_str())) != SQLITE_OK) return undo(rc);
    if ((rc = finish_setup(f)) != SQLITE_OK) return undo(rc);
    f.open = true;
    g_files[n] = std::move(f);
    return 0;
}

}  // namespace

int isam_create_data_file(uint16_t n, const char* path, int record_length, uint16_t extension, uint16_t mode) {
    ok();
    if (int rc = check_new_file_number(n)) return rc;
    if (!path || (mode & kIsamShared) || record_length > 32767) return fail(isam_err_argument, 0);
    if (record_length < 0) record_length = 0;
    if (((mode & kIsamVariable) != 0) != (record_length == 0)) return fail(isam_err_argument, 0);
    File f;
    f.path = path;
    f.record_length = record_length;
    f.extension = extension;
    return create_file(n, f, mode, kDataKind, record_length, 4096);
}

int isam_create_index_file(uint16_t n, const char* path, uint16_t key_length, uint16_t key_type,
                           uint16_t duplicates, uint16_t members, uint16_t extension, uint16_t mode) {
    ok();
    if (int rc = check_new_file_number(n)) return rc;
    if (!path || (mode & kIsamShared) || key_length < 1 || key_length > kIsamMaxKey || duplicates != 0 ||
        members != 0 || (key_type != kIsamKeyPlain && key_type != kIsamKeyCompressed))
        return fail(isam_err_argument, 0);
    File f;
    f.path = path;
    f.index = true;
    f.key_length = key_length;
    f.key_type = key_type;
    f.extension = extension;
    // The node size is the index's page size where SQLite allows it.
    int page = (extension >= 512 && (extension & (extension - 1)) == 0) ? extension : 4096;
    return create_file(n, f, mode, kIndexKind, key_length | (key_type << 16), page);
}

int isam_close_file(uint16_t n, uint16_t /*mode*/) {
    ok();
    if (!g_ready || n >= g_files.size() || !g_files[n].open) return fail(isam_err_file_number, n);
    File& f = g_files[n];
    release_held(f);
    rollback(f);
    leave_bracket(n);
    const int result = remove_released(f);
    forget(f);
    return result;
}

int isam_delete_file(uint16_t n) {
    ok();
    if (!g_ready || n >= g_files.size() || !g_files[n].open) return fail(isam_err_file_number, n);
    File& f = g_files[n];
    release_held(f);
    rollback(f);
    leave_bracket(n);
    const std::string path = f.path;
    forget(f);
    if (unlink(path.c_str()) != 0 && errno != ENOENT) return fail(isam_err_delete, errno);
    if (unlink(journal_of(path).c_str()) != 0 && errno != ENOENT) return fail(isam_err_delete, errno);
    return 0;
}

int isam_file_info(uint16_t n, IsamFileInfo& info) {
    ok();
    if (!g_ready || n >= g_files.size() || !g_files[n].open) return fail(isam_err_file_number, n);
    const File& f = g_files[n];
    info.index = f.index;
    info.record_length = f.record_length;
    info.key_length = f.key_length;
    info.key_type = f.key_type;
    info.extension = f.extension;
    return 0;
}

IsamPos isam_get_key(uint16_t n, const void* key) {
    ok();
    File* f = file_of(n, true);
    if (!f) return 0;
    if (!key) {
        fail(isam_err_argument, 0);
        return 0;
    }
    sqlite3_stmt* s = f->stmt[st_get];
    sqlite3_bind_blob(s, 1, key, f->key_length, SQLITE_STATIC);
    int rc = sqlite3_step(s);
    IsamPos pos = 0;
    if (rc == SQLITE_ROW) pos = sqlite3_column_int64(s, 0);
    int reset_rc = sqlite3_reset(s);
    sqlite3_clear_bindings(s);
    if (rc == SQLITE_ROW && reset_rc == SQLITE_OK) {
        if (pos <= 0) fail(isam_err_read, 0);
        return pos > 0 ? pos : 0;
    }
    if (rc == SQLITE_DONE && reset_rc == SQLITE_OK) return 0;
    sqlite_fail(isam_err_read, rc == SQLITE_ROW || rc == SQLITE_DONE ? reset_rc : rc);
    return 0;
}

int isam_add_key(uint16_t n, const void* key, IsamPos pos, int /*mode*/) {
    ok();
    File* f = file_of(n, true);
    if (!f) return g_err;
    if (!key || pos <= 0) return fail(isam_err_argument, 0);
    if (int rc = write_begin(n, *f)) return rc;
    sqlite3_stmt* s = f->stmt[st_add];
    sqlite3_bind_blob(s, 1, key, f->key_length, SQLITE_STATIC);
    sqlite3_bind_int64(s, 2, pos);
    int rc = run(s);
    if (rc == SQLITE_DONE) return 0;
    if ((rc & 0xff) == SQLITE_CONSTRAINT) return fail(isam_err_duplicate_key, rc);
    return sqlite_fail(isam_err_write, rc);
}

int isam_delete_key(uint16_t n, const void* key, IsamPos pos) {
    ok();
    File* f = file_of(n, true);
    if (!f) return g_err;
    if (!key) return fail(isam_err_argument, 0);
    if (int rc = write_begin(n, *f)) return rc;
    sqlite3_stmt* s = f->stmt[st_remove];
    sqlite3_bind_blob(s, 1, key, f->key_length, SQLITE_STATIC);
    sqlite3_bind_int64(s, 2, pos);
    int rc = run(s);
    if (rc != SQLITE_DONE) return sqlite_fail(isam_err_write, rc);
    if (sqlite3_changes(f->db) != 1) return fail(isam_err_key_missing, 0);
    return 0;
}

namespace {

IsamPos insert_record(uint16_t n, File& f, uint32_t length, IsamKey owner) {
    if (write_begin(n, f)) return 0;
    sqlite3_stmt* s = f.stmt[st_insert];
    sqlite3_bind_blob(s, 1, owner.bytes, owner.length, SQLITE_STATIC);
    sqlite3_bind_zeroblob(s, 2, static_cast<int>(length));
    int rc = run(s);
    if (rc != SQLITE_DONE) {
        sqlite_fail(isam_err_write, rc);
        return 0;
    }
    return sqlite3_last_insert_rowid(f.db);
}

int update_record(uint16_t n, File& f, IsamPos pos, IsamKey owner, const void* buffer, uint32_t length) {
    if (pos <= 0 || is_released(f, pos)) return fail(isam_err_position, 0);
    if (int rc = write_begin(n, f)) return rc;
    sqlite3_stmt* s = f.stmt[st_update];
    sqlite3_bind_int64(s, 1, pos);
    sqlite3_bind_blob(s, 2, buffer, static_cast<int>(length), SQLITE_STATIC);
    sqlite3_bind_blob(s, 3, owner.bytes, owner.length, SQLITE_STATIC);
    int rc = run(s);
    if (rc != SQLITE_DONE) return sqlite_fail(isam_err_write, rc);
    // Nothing changed: no record there, or another key's.
    if (sqlite3_changes(f.db) != 1) return check_owner(f, pos, owner) ? g_err : fail(isam_err_write, 0);
    return 0;
}

}  // namespace

IsamPos isam_new_data(uint16_t n, IsamKey owner) {
    ok();
    File* f = file_of(n, false);
    if (!f) return 0;
    if (f->record_length == 0) {
        fail(isam_err_file_number, n);
        return 0;
    }
    if (!valid_owner(owner)) {
        fail(isam_err_argument, 0);
        return 0;
    }
    return insert_record(n, *f, static_cast<uint32_t>(f->record_length), owner);
}

int isam_read_data(uint16_t n, IsamPos pos, IsamKey owner, void* buffer) {
    ok();
    File* f = file_of(n, false);
    if (!f) return g_err;
    if (f->record_length == 0) return fail(isam_err_file_number, n);
    if (!buffer || pos <= 0 || !valid_owner(owner)) return fail(isam_err_argument, 0);
    const void* body = nullptr;
    int bytes = 0;
    if (int rc = select_body(*f, pos, owner, &body, &bytes)) return rc;
    int result = 0;
    if (bytes != f->record_length || !body)
        result = fail(isam_err_read, 0);  // a fixed record of another length is damage
    else
        std::memcpy(buffer, body, static_cast<size_t>(bytes));
    release_held(*f);
    return result;
}

int isam_write_data(uint16_t n, IsamPos pos, IsamKey owner, const void* buffer) {
    ok();
    File* f = file_of(n, false);
    if (!f) return g_err;
    if (f->record_length == 0) return fail(isam_err_file_number, n);
    if (!buffer || !valid_owner(owner)) return fail(isam_err_argument, 0);
    return update_record(n, *f, pos, owner, buffer, static_cast<uint32_t>(f->record_length));
}

IsamPos isam_new_vdata(uint16_t n, uint32_t length, IsamKey owner) {
    ok();
    File* f = file_of(n, false);
    if (!f) return 0;
    if (f->record_length != 0) {
        fail(isam_err_file_number, n);
        return 0;
    }
    if (length == 0 || length > kIsamMaxRecord || !valid_owner(owner)) {
        fail(isam_err_argument, 0);
        return 0;
    }
    return insert_record(n, *f, length, owner);
}

uint32_t isam_vdata_length(uint16_t n, IsamPos pos, IsamKey owner) {
    ok();
    File* f = file_of(n, false);
    if (!f) return 0;
    if (f->record_length != 0) {
        fail(isam_err_file_number, n);
        return 0;
    }
    if (!valid_owner(owner)) {
        fail(isam_err_argument, 0);
        return 0;
    }
    if (pos <= 0 || is_released(*f, pos)) {
        fail(isam_err_position, 0);
        return 0;
    }
    const void* body = nullptr;
    int bytes = 0;
    if (select_body(*f, pos, owner, &body, &bytes)) return 0;
    if (bytes <= 0 || static_cast<uint32_t>(bytes) > kIsamMaxRecord) {
        release_held(*f);
        fail(isam_err_read, 0);
        return 0;
    }
    // The row stays selected for the read that usually follows.
    return static_cast<uint32_t>(bytes);
}

int isam_read_vdata(uint16_t n, IsamPos pos, IsamKey owner, void* buffer, uint32_t length) {
    ok();
    File* f = file_of(n, false);
    if (!f) return g_err;
    if (f->record_length != 0) return fail(isam_err_file_number, n);
    if ((!buffer && length > 0) || !valid_owner(owner)) return fail(isam_err_argument, 0);
    if (pos <= 0 || is_released(*f, pos)) return fail(isam_err_position, 0);
    const void* body = nullptr;
    int bytes = 0;
    if (int rc = select_body(*f, pos, owner, &body, &bytes)) return rc;
    int result = 0;
    if (bytes < 0 || static_cast<uint32_t>(bytes) < length || (length > 0 && !body))
        result = fail(isam_err_argument, bytes);
    else if (length > 0)
        std::memcpy(buffer, body, length);
    release_held(*f);
    return result;
}

int isam_write_vdata(uint16_t n, IsamPos pos, IsamKey owner, const void* buffer, uint32_t length) {
    ok();
    File* f = file_of(n, false);
    if (!f) return g_err;
    if (f->record_length != 0) return fail(isam_err_file_number, n);
    if ((!buffer && length > 0) || length == 0 || length > kIsamMaxRecord || !valid_owner(owner))
        return fail(isam_err_argument, 0);
    return update_record(n, *f, pos, owner, buffer, length);
}

int isam_release_vdata(uint16_t n, IsamPos pos, IsamKey owner) {
    ok();
    File* f = file_of(n, false);
    if (!f) return g_err;
    if (f->record_length != 0) return fail(isam_err_file_number, n);
    if (!valid_owner(owner)) return fail(isam_err_argument, 0);
    if (pos <= 0 || is_released(*f, pos)) return fail(isam_err_position, 0);
    if (int rc = check_owner(*f, pos, owner)) return rc;
    if (g_bracket) {
        // Kept on disk until the bracket's index changes are durable.
        f->released_new.push_back(pos);
        return 0;
    }
    if (int wrc = write_begin(n, *f)) return wrc;
    sqlite3_bind_int64(f->stmt[st_delete], 1, pos);
    int rc = run(f->stmt[st_delete]);
    if (rc != SQLITE_DONE) return sqlite_fail(isam_err_write, rc);
    return 0;
}

int isam_begin() {
    ok();
    if (!g_ready) return fail(isam_err_not_initialised, 0);
    if (g_bracket) return fail(isam_err_in_use, 0);
    g_bracket = true;
    g_touched.clear();
    return 0;
}

int isam_commit() {
    ok();
    if (!g_ready || !g_bracket) return fail(isam_err_argument, 0);
    int result = 0;
    for (uint16_t n : g_touched) {
        File& f = g_files[n];
        if (!f.in_txn) continue;
        if (result == 0) {
            int rc = run(f.stmt[st_commit]);
            if (rc == SQLITE_DONE) {
                f.in_txn = false;
                f.releasing.clear();
                continue;
            }
            result = sqlite_fail(isam_err_commit, rc);
        }
        rollback(f);
    }
    // Releases become due only once every file of the bracket is durable,
    // and go at once: a list kept for later would die with the process and
    // leave the records on disk for good. A removal that fails is retried by
    // the file's next write or its close; the bracket itself stands.
    for (File& f : g_files) {
        if (result == 0 && f.open && !f.released_new.empty()) {
            f.released.insert(f.released.end(), f.released_new.begin(), f.released_new.end());
        }
        f.released_new.clear();
        f.in_txn = false;
    }
    g_touched.clear();
    g_bracket = false;
    if (result == 0) {
        for (File& f : g_files)
            if (f.open) remove_released(f);
        ok();
    }
    return result;
}

void isam_abort() {
    for (uint16_t n : g_touched) rollback(g_files[n]);
    for (File& f : g_files) f.released_new.clear();
    g_touched.clear();
    g_bracket = false;
}

int isam_error() { return g_err; }
int isam_error2() { return g_err2; }
void isam_clear_error() { ok(); }

}  // namespace zk
