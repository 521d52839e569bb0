// A cell's packed object records, as read back from the cell cache, turned
// into live objects one by one.
//
// Input: bytes 0-3 the cell x and z (big-endian); the rest the records.
#include <cstddef>
#include <cstdint>

#include "world/cell.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const auto x = static_cast<int16_t>((data[0] << 8) | data[1]);
    const auto z = static_cast<int16_t>((data[2] << 8) | data[3]);
    zk::cell_start_records(x, z, data + 4, size - 4);
    zk::object* o = nullptr;
    while (zk::cell_next(&o)) zk::object_destroy(o);
    // Nothing of this run stays on the global list.
    while (zk::object* left = zk::object_first()) zk::object_destroy(left);
    return 0;
}
