// The demo worlds' objects: the content file format and the seeding of an
// empty world database from it.
//
// A content file holds one object per line:
//     x y z yaw model | description | action
// x, y and z in world units (one unit is a 10-metre cell; x grows to the
// west, z to the north, y upwards), yaw in degrees. The description and the
// action may be left out with their bars. Blank lines and lines whose first
// non-blank character is '#' are ignored.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zk::server {

class WorldStore;

struct DemoObject {
    int32_t x = 0, y = 0, z = 0;  // thousandths of a unit
    int16_t yaw = 0;              // tenths of a degree, 0 to 3599
    std::string model, description, action;
};

struct DemoProblem {
    int line = 0;
    std::string reason;
};

// Parses one line. Answers 1 and fills `out` for an object, 0 for a blank
// or comment line, -1 with `reason` set for a line that cannot be used.
int demo_parse_line(std::string_view line, DemoObject& out, std::string& reason);

// Every usable object of a content file; the lines that were skipped, with
// their numbers, go to `problems`.
std::vector<DemoObject> demo_parse(std::string_view text, std::vector<DemoProblem>& problems);

struct DemoSeedResult {
    long added = 0;    // objects stored; 0 when the world already had objects
    long skipped = 0;  // bad lines and objects that did not fit their cell
    std::string error; // empty unless the file or the database failed
};

// Fills an empty world from the content file at `path`, in one
// transaction, with `owner` as every object's owner; a world that already
// has objects is left alone. When the world is one of the demo worlds and
// has no object password yet, its enciphered password is stored too.
DemoSeedResult demo_seed(WorldStore& store, const std::string& path, const std::string& world, uint32_t owner);

// Owner of the demo objects when the world has none: a number the
// universe's counter will not reach, so no citizen can claim them.
inline constexpr uint32_t kDemoOwner = 0x7FFFFFF0u;

// Attribute 22 carries the object password enciphered with the built-in key.
std::string demo_encipher_password(std::string_view plain);

}  // namespace zk::server
