// A world's objects, sector versions and attributes, in an SQLite database.
// Every change takes the next number of one world-wide counter; a sector's
// timestamp is the counter value of its last change, so a browser that
// holds it is sent nothing for that sector.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace zk::server {

class StmtCache;

struct WorldObject {
    uint8_t number = 0;
    uint32_t owner = 0;
    uint32_t built = 0;          // seconds since 1970
    int16_t x = 0, y = 0, z = 0; // offsets in the cell, thousandths of a unit
    int16_t yaw = 0;             // tenths of a degree
    std::string model, description, action;

    // Bytes of its packed record.
    size_t record_size() const { return 20 + model.size() + description.size() + action.size(); }
};

struct CellChanges {
    int16_t x = 0, z = 0;
    std::vector<WorldObject> objects;  // changed since the version asked about
    std::vector<uint8_t> gone;         // numbers removed since then
};

// Sector of a cell: sector s covers cells 6s - 3 to 6s + 2.
int16_t sector_of_cell(int cell);
// Cell of a coordinate in thousandths of a unit.
int cell_of_milli(int32_t v);

class WorldStore {
public:
    WorldStore();
    ~WorldStore();
    WorldStore(const WorldStore&) = delete;
    WorldStore& operator=(const WorldStore&) = delete;

    std::string open(const std::string& path);

    std::map<int, std::string> attributes();
    bool set_attributes(const std::map<int, std::string>& values);

    uint32_t sector_version(int16_t sx, int16_t sz);
    // The cells of a sector that changed after `since`, with what changed.
    std::vector<CellChanges> changes(int16_t sx, int16_t sz, uint32_t since);

    std::optional<WorldObject> find(int16_t cx, int16_t cz, uint8_t number);
    size_t cell_bytes(int16_t cx, int16_t cz);
    size_t cell_count(int16_t cx, int16_t cz);
    // Stores the object under the lowest free number (or `prefer` when it
    // is free); answers the number, or -1 when the cell has none left.
    int add(int16_t cx, int16_t cz, WorldObject object, int prefer = -1);
    bool remove(int16_t cx, int16_t cz, uint8_t number);
    size_t object_count();

    // Runs a group of changes in one transaction.
    bool begin();
    bool commit();

private:
    uint32_t next_version();
    void touch(int16_t cx, int16_t cz, uint32_t version);
    bool exec(const char* sql);
    sqlite3_stmt* prepared(const std::string& sql);
    sqlite3* db_ = nullptr;
    std::unique_ptr<StmtCache> cache_;
};

}  // namespace zk::server
