// Feeds a fuzz input to a zelnik-server service as its loop reads a client's
// socket: at most 16 KB at a time, each followed by a pass of the loop; the
// replies are read from the other end of a socket pair and dropped.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

#include <sqlite3.h>

#include <cstdlib>

#include "server/service.h"

namespace zk::fuzz {

// Before SQLite's first use: lets the service's own database open take a
// shared in-memory name, and keeps the service's log quiet.
inline int server_fuzz_init() {
    if (sqlite3_config(SQLITE_CONFIG_URI, 1) != SQLITE_OK) std::abort();
    zk::server::server_log_quiet(true);
    return 0;
}

// `step_ms` is how far the clock moves between passes.
inline void server_feed(zk::server::Service& server, const uint8_t* data, size_t size, int64_t step_ms) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) return;
    const uint64_t id = server.adopt(pair[0], 0x7F000001, 40000, 0).id;
    const std::vector<pollfd> none;
    char sink[65536];
    int64_t now = 0;
    for (size_t at = 0; at < size; at += 16384) {
        zk::server::Client* c = server.find_client(id);
        if (!c) break;
        const size_t n = std::min<size_t>(16384, size - at);
        server.receive(*c, std::string_view(reinterpret_cast<const char*>(data) + at, n), now);
        now += step_ms;
        server.dispatch(none, now);
        while (read(pair[1], sink, sizeof sink) > 0) {
        }
    }
    close(pair[1]);
}

}  // namespace zk::fuzz
