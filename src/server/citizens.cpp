#include "server/citizens.h"

#include <sqlite3.h>

#include <ctime>

#include "server/password.h"
#include "server/sqlite_stmt.h"

namespace zk::server {

namespace {

Citizen citizen_from(Stmt& s) {
    Citizen c;
    c.number = static_cast<uint32_t>(s.integer(0));
    c.name = s.text(1);
    c.email = s.text(2);
    c.password_hash = s.text(3);
    return c;
}

}  // namespace

Citizens::~Citizens() {
    if (db_) sqlite3_close(db_);
}

bool Citizens::exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

std::string Citizens::open(const std::string& path) {
    if (db_) sqlite3_close(db_);
    db_ = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        std::string e = db_ ? sqlite3_errmsg(db_) : "out of memory";
        return path + ": " + e;
    }
    sqlite3_busy_timeout(db_, 2000);
    if (!exec("PRAGMA journal_mode=WAL") ||
        !exec("CREATE TABLE IF NOT EXISTS citizen (number INTEGER PRIMARY KEY AUTOINCREMENT,"
              " name TEXT NOT NULL UNIQUE COLLATE NOCASE, email TEXT NOT NULL, password TEXT NOT NULL,"
              " created INTEGER NOT NULL)") ||
        !exec("CREATE TABLE IF NOT EXISTS telegram (id INTEGER PRIMARY KEY AUTOINCREMENT,"
              " recipient INTEGER NOT NULL, sender INTEGER NOT NULL, text TEXT NOT NULL,"
              " sent INTEGER NOT NULL, read INTEGER NOT NULL DEFAULT 0)"))
        return path + ": " + sqlite3_errmsg(db_);
    return {};
}

std::optional<Citizen> Citizens::by_name(const std::string& name) {
    Stmt s(db_, "SELECT number, name, email, password FROM citizen WHERE name = ?1");
    s.bind_text(1, name);
    if (!s.row()) return std::nullopt;
    return citizen_from(s);
}

std::optional<Citizen> Citizens::by_number(uint32_t number) {
    Stmt s(db_, "SELECT number, name, email, password FROM citizen WHERE number = ?1");
    s.bind(1, static_cast<int64_t>(number));
    if (!s.row()) return std::nullopt;
    return citizen_from(s);
}

uint32_t Citizens::add(const std::string& name, const std::string& password, const std::string& email) {
    return add_hashed(name, password_hash(password), email);
}

uint32_t Citizens::add_hashed(const std::string& name, const std::string& hash, const std::string& email) {
    Stmt s(db_, "INSERT INTO citizen (name, email, password, created) VALUES (?1, ?2, ?3, ?4)");
    s.bind_text(1, name).bind_text(2, email).bind_text(3, hash).bind(4, static_cast<int64_t>(time(nullptr)));
    if (!s.done()) return 0;
    return static_cast<uint32_t>(sqlite3_last_insert_rowid(db_));
}

bool Citizens::update_hashed(uint32_t number, const std::string& name, const std::string& hash,
                             const std::string& email) {
    Stmt s(db_, "UPDATE citizen SET name = ?1, email = ?2, password = ?3 WHERE number = ?4");
    s.bind_text(1, name).bind_text(2, email).bind_text(3, hash).bind(4, static_cast<int64_t>(number));
    return s.done() && sqlite3_changes(db_) == 1;
}

bool Citizens::telegram_add(uint32_t to, uint32_t from, const std::string& text) {
    Stmt s(db_, "INSERT INTO telegram (recipient, sender, text, sent) VALUES (?1, ?2, ?3, ?4)");
    s.bind(1, static_cast<int64_t>(to)).bind(2, static_cast<int64_t>(from)).bind_text(3, text);
    s.bind(4, static_cast<int64_t>(time(nullptr)));
    return s.done();
}

std::optional<Telegram> Citizens::telegram_take(uint32_t to) {
    Stmt s(db_,
           "SELECT t.id, t.sender, COALESCE(c.name, ''), t.text, t.sent FROM telegram t"
           " LEFT JOIN citizen c ON c.number = t.sender"
           " WHERE t.recipient = ?1 AND t.read = 0 ORDER BY t.id LIMIT 1");
    s.bind(1, static_cast<int64_t>(to));
    if (!s.row()) return std::nullopt;
    Telegram t;
    t.id = s.integer(0);
    t.from = static_cast<uint32_t>(s.integer(1));
    t.from_name = s.text(2);
    t.text = s.text(3);
    t.sent = s.integer(4);
    Stmt mark(db_, "UPDATE telegram SET read = 1 WHERE id = ?1");
    mark.bind(1, t.id);
    if (!mark.done()) return std::nullopt;
    return t;
}

int Citizens::telegram_count(uint32_t to) {
    Stmt s(db_, "SELECT COUNT(*) FROM telegram WHERE recipient = ?1 AND read = 0");
    s.bind(1, static_cast<int64_t>(to));
    return s.row() ? static_cast<int>(s.integer(0)) : 0;
}

}  // namespace zk::server
