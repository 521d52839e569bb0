#include "server/world_store.h"

#include <set>

#include "server/sqlite_stmt.h"

namespace zk::server {

int16_t sector_of_cell(int cell) { return static_cast<int16_t>(cell >= 0 ? (cell + 3) / 6 : (cell - 2) / 6); }

int cell_of_milli(int32_t v) {
    // trunc(v) for v >= 0, trunc(v - 0.99999) below, in thousandths; wide
    // enough that the most negative position does not overflow.
    const int64_t w = v;
    if (w >= 0) return static_cast<int>(w / 1000);
    return static_cast<int>(-((-w + 999) / 1000));
}

WorldStore::WorldStore() = default;

WorldStore::~WorldStore() {
    cache_.reset();
    if (db_) sqlite3_close(db_);
}

sqlite3_stmt* WorldStore::prepared(const std::string& sql) { return cache_->get(db_, sql); }

bool WorldStore::exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

bool WorldStore::begin() { return exec("BEGIN IMMEDIATE"); }
bool WorldStore::commit() { return exec("COMMIT"); }

std::string WorldStore::open(const std::string& path) {
    cache_ = std::make_unique<StmtCache>();
    if (db_) sqlite3_close(db_);
    db_ = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
        return path + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
    sqlite3_busy_timeout(db_, 2000);
    if (!exec("PRAGMA journal_mode=WAL") || !exec("PRAGMA synchronous=NORMAL") ||
        !exec("CREATE TABLE IF NOT EXISTS object (cx INTEGER NOT NULL, cz INTEGER NOT NULL,"
              " number INTEGER NOT NULL, owner INTEGER NOT NULL, built INTEGER NOT NULL,"
              " x INTEGER NOT NULL, y INTEGER NOT NULL, z INTEGER NOT NULL, yaw INTEGER NOT NULL,"
              " model BLOB NOT NULL, description BLOB NOT NULL, action BLOB NOT NULL,"
              " version INTEGER NOT NULL, PRIMARY KEY (cx, cz, number))") ||
        !exec("CREATE TABLE IF NOT EXISTS gone (cx INTEGER NOT NULL, cz INTEGER NOT NULL,"
              " number INTEGER NOT NULL, version INTEGER NOT NULL, PRIMARY KEY (cx, cz, number))") ||
        !exec("CREATE TABLE IF NOT EXISTS cell (cx INTEGER NOT NULL, cz INTEGER NOT NULL,"
              " sx INTEGER NOT NULL, sz INTEGER NOT NULL, version INTEGER NOT NULL, PRIMARY KEY (cx, cz))") ||
        !exec("CREATE INDEX IF NOT EXISTS cell_sector ON cell (sx, sz)") ||
        !exec("CREATE TABLE IF NOT EXISTS attribute (id INTEGER PRIMARY KEY, value BLOB NOT NULL)") ||
        !exec("CREATE TABLE IF NOT EXISTS counter (id INTEGER PRIMARY KEY, value INTEGER NOT NULL)") ||
        !exec("INSERT OR IGNORE INTO counter (id, value) VALUES (1, 0)"))
        return path + ": " + sqlite3_errmsg(db_);
    return {};
}

std::map<int, std::string> WorldStore::attributes() {
    std::map<int, std::string> out;
    Stmt s(prepared("SELECT id, value FROM attribute ORDER BY id"));
    while (s.row()) out[static_cast<int>(s.integer(0))] = s.text(1);
    return out;
}

bool WorldStore::set_attributes(const std::map<int, std::string>& values) {
    if (!begin()) return false;
    bool ok = exec("DELETE FROM attribute");
    for (const auto& [id, value] : values) {
        Stmt s(prepared("INSERT INTO attribute (id, value) VALUES (?1, ?2)"));
        ok = ok && s.bind(1, static_cast<int64_t>(id)).bind(2, value).done();
    }
    if (!ok) {
        exec("ROLLBACK");
        return false;
    }
    return commit();
}

uint32_t WorldStore::next_version() {
    exec("UPDATE counter SET value = value + 1 WHERE id = 1");
    Stmt s(prepared("SELECT value FROM counter WHERE id = 1"));
    return s.row() ? static_cast<uint32_t>(s.integer(0)) : 0;
}

void WorldStore::touch(int16_t cx, int16_t cz, uint32_t version) {
    Stmt s(prepared("INSERT INTO cell (cx, cz, sx, sz, version) VALUES (?1, ?2, ?3, ?4, ?5)"
                " ON CONFLICT (cx, cz) DO UPDATE SET version = excluded.version"));
    s.bind(1, int64_t{cx}).bind(2, int64_t{cz}).bind(3, int64_t{sector_of_cell(cx)}).bind(4, int64_t{sector_of_cell(cz)});
    s.bind(5, static_cast<int64_t>(version)).done();
}

uint32_t WorldStore::sector_version(int16_t sx, int16_t sz) {
    Stmt s(prepared("SELECT MAX(version) FROM cell WHERE sx = ?1 AND sz = ?2"));
    s.bind(1, int64_t{sx}).bind(2, int64_t{sz});
    return s.row() ? static_cast<uint32_t>(s.integer(0)) : 0;
}

namespace {

WorldObject object_from(Stmt& s, int first) {
    WorldObject o;
    o.number = static_cast<uint8_t>(s.integer(first));
    o.owner = static_cast<uint32_t>(s.integer(first + 1));
    o.built = static_cast<uint32_t>(s.integer(first + 2));
    o.x = static_cast<int16_t>(s.integer(first + 3));
    o.y = static_cast<int16_t>(s.integer(first + 4));
    o.z = static_cast<int16_t>(s.integer(first + 5));
    o.yaw = static_cast<int16_t>(s.integer(first + 6));
    o.model = s.text(first + 7);
    o.description = s.text(first + 8);
    o.action = s.text(first + 9);
    return o;
}

constexpr const char* kObjectColumns = "number, owner, built, x, y, z, yaw, model, description, action";

}  // namespace

std::vector<CellChanges> WorldStore::changes(int16_t sx, int16_t sz, uint32_t since) {
    std::vector<CellChanges> out;
    Stmt cells(prepared("SELECT cx, cz FROM cell WHERE sx = ?1 AND sz = ?2 AND version > ?3 ORDER BY cz, cx"));
    cells.bind(1, int64_t{sx}).bind(2, int64_t{sz}).bind(3, static_cast<int64_t>(since));
    while (cells.row()) {
        CellChanges c;
        c.x = static_cast<int16_t>(cells.integer(0));
        c.z = static_cast<int16_t>(cells.integer(1));
        std::string sql = std::string("SELECT ") + kObjectColumns +
                          " FROM object WHERE cx = ?1 AND cz = ?2 AND version > ?3 ORDER BY version, number";
        Stmt objects(prepared(sql));
        objects.bind(1, int64_t{c.x}).bind(2, int64_t{c.z}).bind(3, static_cast<int64_t>(since));
        while (objects.row()) c.objects.push_back(object_from(objects, 0));
        // A browser that never saw this world has nothing to remove.
        if (since > 0) {
            Stmt gone(prepared("SELECT number FROM gone WHERE cx = ?1 AND cz = ?2 AND version > ?3"
                           " AND number NOT IN (SELECT number FROM object WHERE cx = ?1 AND cz = ?2)"));
            gone.bind(1, int64_t{c.x}).bind(2, int64_t{c.z}).bind(3, static_cast<int64_t>(since));
            while (gone.row()) c.gone.push_back(static_cast<uint8_t>(gone.integer(0)));
        }
        out.push_back(std::move(c));
    }
    return out;
}

std::optional<WorldObject> WorldStore::find(int16_t cx, int16_t cz, uint8_t number) {
    std::string sql = std::string("SELECT ") + kObjectColumns + " FROM object WHERE cx = ?1 AND cz = ?2 AND number = ?3";
    Stmt s(prepared(sql));
    s.bind(1, int64_t{cx}).bind(2, int64_t{cz}).bind(3, int64_t{number});
    if (!s.row()) return std::nullopt;
    return object_from(s, 0);
}

size_t WorldStore::cell_bytes(int16_t cx, int16_t cz) {
    Stmt s(prepared("SELECT COALESCE(SUM(20 + LENGTH(model) + LENGTH(description) + LENGTH(action)), 0)"
                " FROM object WHERE cx = ?1 AND cz = ?2"));
    s.bind(1, int64_t{cx}).bind(2, int64_t{cz});
    return s.row() ? static_cast<size_t>(s.integer(0)) : 0;
}

size_t WorldStore::cell_count(int16_t cx, int16_t cz) {
    Stmt s(prepared("SELECT COUNT(*) FROM object WHERE cx = ?1 AND cz = ?2"));
    s.bind(1, int64_t{cx}).bind(2, int64_t{cz});
    return s.row() ? static_cast<size_t>(s.integer(0)) : 0;
}

size_t WorldStore::object_count() {
    Stmt s(prepared("SELECT COUNT(*) FROM object"));
    return s.row() ? static_cast<size_t>(s.integer(0)) : 0;
}

int WorldStore::add(int16_t cx, int16_t cz, WorldObject o, int prefer) {
    std::set<int> used;
    {
        Stmt s(prepared("SELECT number FROM object WHERE cx = ?1 AND cz = ?2"));
        s.bind(1, int64_t{cx}).bind(2, int64_t{cz});
        while (s.row()) used.insert(static_cast<int>(s.integer(0)));
    }
    int number = -1;
    if (prefer >= 0 && prefer < 255 && !used.count(prefer)) {
        number = prefer;
    } else {
        for (int n = 0; n < 255; ++n)
            if (!used.count(n)) {
                number = n;
                break;
            }
    }
    if (number < 0) return -1;
    o.number = static_cast<uint8_t>(number);
    const uint32_t version = next_version();
    std::string sql = std::string("INSERT INTO object (cx, cz, ") + kObjectColumns +
                      ", version) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)";
    Stmt s(prepared(sql));
    s.bind(1, int64_t{cx}).bind(2, int64_t{cz}).bind(3, int64_t{o.number}).bind(4, int64_t{o.owner});
    s.bind(5, int64_t{o.built}).bind(6, int64_t{o.x}).bind(7, int64_t{o.y}).bind(8, int64_t{o.z});
    s.bind(9, int64_t{o.yaw}).bind(10, o.model).bind(11, o.description).bind(12, o.action);
    s.bind(13, static_cast<int64_t>(version));
    if (!s.done()) return -1;
    touch(cx, cz, version);
    return number;
}

bool WorldStore::remove(int16_t cx, int16_t cz, uint8_t number) {
    Stmt s(prepared("DELETE FROM object WHERE cx = ?1 AND cz = ?2 AND number = ?3"));
    s.bind(1, int64_t{cx}).bind(2, int64_t{cz}).bind(3, int64_t{number});
    if (!s.done() || sqlite3_changes(db_) != 1) return false;
    const uint32_t version = next_version();
    Stmt g(prepared("INSERT INTO gone (cx, cz, number, version) VALUES (?1, ?2, ?3, ?4)"
                " ON CONFLICT (cx, cz, number) DO UPDATE SET version = excluded.version"));
    g.bind(1, int64_t{cx}).bind(2, int64_t{cz}).bind(3, int64_t{number}).bind(4, static_cast<int64_t>(version));
    g.done();
    touch(cx, cz, version);
    return true;
}

}  // namespace zk::server
