// Universe requests as a client sends them, through the server's own frame
// reader and request handling, with replies going to a socket pair. The
// hashes are the weakest the server accepts and run at once, so a run stays
// fast and repeatable.
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
#include "server/citizens.h"
#include "server/password.h"
#include "server/universe_server.h"

namespace {

// One database in memory for every run, emptied and filled again before
// each through a second connection (opening a fresh one costs more than
// most runs).
const char kDatabase[] = "file:fuzz-universe?mode=memory&cache=shared";

struct Universe {
    zk::server::Citizens citizens;
    sqlite3* admin = nullptr;
    std::string ann = zk::server::password_hash("pass1", 1000), bert = zk::server::password_hash("pass2", 1000);

    Universe() {
        if (!citizens.open(kDatabase).empty() ||
            sqlite3_open_v2(kDatabase, &admin, SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI, nullptr) != SQLITE_OK)
            std::abort();
    }
    ~Universe() { sqlite3_close(admin); }

    void reset() {
        if (sqlite3_exec(admin, "DELETE FROM citizen; DELETE FROM telegram; DELETE FROM sqlite_sequence", nullptr,
                         nullptr, nullptr) != SQLITE_OK) {
            std::fprintf(stderr, "fuzz: cannot empty the universe: %s\n", sqlite3_errmsg(admin));
            std::abort();
        }
        citizens.add_hashed("Ann", ann, "ann@example.org");
        citizens.add_hashed("Bert", bert, "bert@example.org");
        citizens.telegram_add(1, 2, "see you at the fountain");
    }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return zk::fuzz::server_fuzz_init(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zk::server;
    static Universe universe;
    universe.reset();

    UniverseConfig config;
    config.hash_threads = 0;
    config.hash_iterations = 1000;
    config.login_burst = 4;  // enough to log in, change and read; the rest is refused
    UniverseServer server(universe.citizens, config);
    server.add_world("zk", 0x7F000001, 5671);
    server.set_whos_at([](uint32_t key) -> std::optional<std::string> {
        if (key == 0x01020304) return std::string("Ann");
        return std::nullopt;
    });
    // Each pass applies the finished hashes and goes on with the requests
    // that waited for them.
    zk::fuzz::server_feed(server, data, size, 0);
    return 0;
}
