// A prepared SQLite statement that finalises itself.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <string>

namespace zk::server {

class Stmt {
public:
    Stmt(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &s_, nullptr); }
    // Borrows a statement kept prepared by its owner; it is reset for the
    // next use instead of finalised.
    explicit Stmt(sqlite3_stmt* kept) : s_(kept), kept_(true) {}
    ~Stmt() {
        if (kept_) {
            sqlite3_reset(s_);
            sqlite3_clear_bindings(s_);
        } else {
            sqlite3_finalize(s_);
        }
    }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;
    bool ok() const { return s_ != nullptr; }
    Stmt& bind(int i, const std::string& v) {
        sqlite3_bind_blob(s_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt& bind_text(int i, const std::string& v) {
        sqlite3_bind_text(s_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt& bind(int i, int64_t v) {
        sqlite3_bind_int64(s_, i, v);
        return *this;
    }
    bool row() { return s_ && sqlite3_step(s_) == SQLITE_ROW; }
    bool done() { return s_ && sqlite3_step(s_) == SQLITE_DONE; }
    int64_t integer(int col) { return sqlite3_column_int64(s_, col); }
    std::string text(int col) {
        const void* t = sqlite3_column_blob(s_, col);
        int n = sqlite3_column_bytes(s_, col);
        return t ? std::string(static_cast<const char*>(t), static_cast<size_t>(n)) : std::string();
    }

private:
    sqlite3_stmt* s_ = nullptr;
    bool kept_ = false;
};

// Statements prepared once per database and kept until it closes.
class StmtCache {
public:
    ~StmtCache() { clear(); }
    void clear() {
        for (auto& [sql, s] : kept_) sqlite3_finalize(s);
        kept_.clear();
    }
    sqlite3_stmt* get(sqlite3* db, const std::string& sql) {
        auto it = kept_.find(sql);
        if (it != kept_.end()) return it->second;
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr);
        kept_[sql] = s;
        return s;
    }

private:
    std::map<std::string, sqlite3_stmt*> kept_;
};

}  // namespace zk::server
