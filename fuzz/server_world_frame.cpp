// World requests as a client sends them, through the server's own reader
// (type-dependent lengths, the attribute list ended by a quiet sender) and
// request handling, against a world held in memory.
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "server_feed.h"
#include "server/world_server.h"
#include "server/world_store.h"

namespace {

// One world in memory for every run, emptied and filled again before each
// through a second connection (opening a fresh one costs more than most runs).
const char kDatabase[] = "file:fuzz-world?mode=memory&cache=shared";

struct World {
    zk::server::WorldStore store;
    sqlite3* admin = nullptr;

    World() {
        if (!store.open(kDatabase).empty() ||
            sqlite3_open_v2(kDatabase, &admin, SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI, nullptr) != SQLITE_OK)
            std::abort();
    }
    ~World() { sqlite3_close(admin); }

    void reset() {
        using namespace zk::server;
        if (sqlite3_exec(admin,
                         "DELETE FROM object; DELETE FROM gone; DELETE FROM cell; DELETE FROM attribute;"
                         " UPDATE counter SET value = 0",
                         nullptr, nullptr, nullptr) != SQLITE_OK) {
            std::fprintf(stderr, "fuzz: cannot empty the world: %s\n", sqlite3_errmsg(admin));
            std::abort();
        }
        store.set_attributes({{attr_enter, "*"}, {attr_build, "1, 2"}, {attr_eminent_domain, "2"},
                              {attr_restricted_radius, "20"}, {attr_cache_epoch, "7"}});
        WorldObject tree;
        tree.owner = 2;
        tree.model = "tree1";
        tree.action = "create sign";
        store.add(0, 0, tree);
        tree.owner = 3;
        tree.model = "zwall";
        store.add(7, -3, tree);
    }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return zk::fuzz::server_fuzz_init(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zk::server;
    static World world;
    world.reset();

    WorldConfig config;
    config.owner = 1;
    config.radius_cells = 1000;
    WorldServer server(world.store, config);
    // Citizen 4 is nobody the universe knows at this address.
    server.set_identity_check([](uint32_t citizen, uint32_t) { return citizen != 4; });
    // Passes late enough for an attribute list to count as finished.
    zk::fuzz::server_feed(server, data, size, WorldServer::kListQuietMs);
    return 0;
}
