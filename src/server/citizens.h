// The universe's citizens and their telegrams, in an SQLite database.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct sqlite3;

namespace zk::server {

struct Citizen {
    uint32_t number = 0;
    std::string name;
    std::string email;
    std::string password_hash;
};

struct Telegram {
    int64_t id = 0;
    uint32_t from = 0;
    std::string from_name;
    std::string text;
    int64_t sent = 0;  // seconds since the epoch
};

class Citizens {
public:
    Citizens() = default;
    ~Citizens();
    Citizens(const Citizens&) = delete;
    Citizens& operator=(const Citizens&) = delete;

    // Opens or creates the database; answers an error text, empty on success.
    std::string open(const std::string& path);

    // Names compare without regard to case.
    std::optional<Citizen> by_name(const std::string& name);
    std::optional<Citizen> by_number(uint32_t number);
    // The new citizen's number, 0 on failure. add hashes the password on
    // the caller's thread; the others take the hash made by password_hash.
    uint32_t add(const std::string& name, const std::string& password, const std::string& email);
    uint32_t add_hashed(const std::string& name, const std::string& hash, const std::string& email);
    bool update_hashed(uint32_t number, const std::string& name, const std::string& hash, const std::string& email);

    bool telegram_add(uint32_t to, uint32_t from, const std::string& text);
    // The oldest unread telegram of `to`, marked read.
    std::optional<Telegram> telegram_take(uint32_t to);
    int telegram_count(uint32_t to);

private:
    bool exec(const char* sql);
    sqlite3* db_ = nullptr;
};

}  // namespace zk::server
