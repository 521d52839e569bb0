// The local database: keyed caches (download dates, models, textures, cells,
// world data) kept as a pair of record-engine files "<name>.dat" and
// "<name>.idx". Any engine error is met with one policy: tell the user,
// throw the damaged store away, re-create it empty and carry on. The stores
// are caches, so losing one costs downloads, never user data. Files that
// another program holds locked are not damaged and are never thrown away:
// the operation fails instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zk {

struct Database {
    uint16_t data_file = 65535;   // engine file numbers; 65535 = none
    uint16_t index_file = 65535;
    uint16_t data_mode = 0;
    uint16_t index_mode = 0;
    int fixed = 0;                // 1 for fixed-length records
    std::string name;             // path stem
    uint16_t key_length = 0;
    uint16_t key_type = 0;        // 12 when keys are compressed, else 0
    int16_t record_length = 0;    // 0 = variable-length records
    uint16_t data_extension = 0;
    uint16_t index_extension = 0;
};

// Sets the record engine up once. False when it cannot be.
bool database_init();

// Opens "<name>.dat" and "<name>.idx", creating both empty when they are
// missing or either cannot be opened; a pair held locked by another program
// is left alone and counts as a fatal error. `record_length` 0 or less means
// variable-length records. Null after the fatal-disk-error message (the
// program is then asked to end) or when memory runs out.
Database* database_open(const std::string& name, int key_length, int record_length, int data_extension,
                        int index_extension, bool compress_keys, bool write_through);
void database_close(Database* db);

// Keys are key-length bytes: a shorter text is zero-filled, a longer cut.

// 1 if the key is in the database.
int database_key_exists(Database* db, std::string_view key);

// Copies the key's record into `buffer` of `buffer_size` bytes and, when
// `length` is given, its length. 1 if found; 0 if not, or when the record
// does not fit the buffer.
int database_fetch(Database* db, std::string_view key, void* buffer, size_t buffer_size, int* length);

// Variable-length databases only: the key's record in a new buffer. 1 if
// found, else 0 (at once on a fixed-length database).
int database_fetch_unknown(Database* db, std::string_view key, std::vector<uint8_t>& data);

// Inserts or replaces the key's record. On a variable-length database a
// `length` of 0 or less removes the key. A fixed record shorter than the
// record length is zero-filled. 1 on success, 0 on error.
int database_store(Database* db, std::string_view key, const void* data, int length);

// Stores every (key, record) pair in one bracket: they become durable
// together, for the cost of one store. 1 when all were stored; 0 when one
// was refused (the others are kept) or on an engine error (then none is).
int database_store_all(Database* db, const std::vector<std::pair<std::string, std::string>>& records);
// Deletes both files and re-creates them empty; exits the program when
// that fails.
void database_reset(Database* db);

}  // namespace zk
