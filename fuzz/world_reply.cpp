// Bytes from a world server into the connection's reply reader, its
// decoding and the cell cache, with one request queued first.
//
// Input: byte 0 picks the request (0 the neighbourhood query, 1 an
// attribute read, 2 a delete, 3 a change), bytes 1 and 2 its sector or
// cell (signed); the rest is the reply stream.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "art/database.h"
#include "world/cell.h"
#include "world/prop.h"
#include "world/world.h"

namespace {

int8_t g_x = 0, g_z = 0;
std::string g_dir;

void attributes(const uint8_t* body, size_t length, int code) {
    if (code == 0) zk::attributes_decode(body, length);
}

void cleanup() {
    zk::cell_term();
    std::error_code ec;
    std::filesystem::remove_all(g_dir, ec);
}

std::string setup() {
    // Every cell write is a commit: in memory when there is a tmpfs.
    char shm[] = "/dev/shm/zk-fuzz-world-XXXXXX";
    char tmp[] = "/tmp/zk-fuzz-world-XXXXXX";
    const char* dir = mkdtemp(shm);
    if (!dir) dir = mkdtemp(tmp);
    if (!dir || !zk::database_init() || !zk::cell_init()) abort();
    g_dir = dir;
    atexit(cleanup);
    zk::PropPorts& p = zk::prop_ports();
    p.now = [] { return uint32_t{1000}; };
    p.server_address = [] { return uint32_t{0x0100007F}; };
    p.server_port = [] { return uint16_t{0x1600}; };
    p.attributes_known = [] { return true; };
    p.attributes_pending = [] { return false; };
    p.unable_to_contact = [] {};
    p.attribute = [](int) { return std::string("25"); };
    p.position = [](double* x, double* y, double* z) {
        *x = g_x * 6 + 0.5;
        *y = 0;
        *z = g_z * 6 + 0.5;
    };
    p.citizen = [] { return uint32_t{7}; };
    p.cell_changed = [](int, int) {};
    p.console = [](const std::string&, const std::string&) {};
    p.relogin = [] {};
    return std::string(dir) + "/cache/property/zk";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Set on the first run, once every module's own statics are in place.
    static const std::string cache = setup();
    if (size < 3) return 0;
    if (zk::cell_open(cache, true) != 1) abort();
    zk::attributes_clear();
    g_x = static_cast<int8_t>(data[1]);
    g_z = static_cast<int8_t>(data[2]);
    switch (data[0] & 3) {
    case 0: break;  // the replay queues the query itself
    case 1: zk::prop_attributes_get(attributes); break;
    case 2: zk::prop_object_delete(g_x, g_z, 5); break;
    case 3: {
        zk::object* o = zk::object_create(g_x + 0.5, 0, g_z + 0.5, 90, "hut", "", "", 5, 7, false, 1);
        if (o) zk::prop_object_change(static_cast<int16_t>(g_x + 1), g_z, o);
        zk::object_destroy(o);
        break;
    }
    }
    zk::prop_replay(data + 3, size - 3);
    zk::prop_reset();
    zk::attributes_clear();
    zk::cell_term();
    return 0;
}
