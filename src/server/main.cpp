// zelnik-server: a universe server (and, as they come, world and object
// servers) in one process.
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "server/citizens.h"
#include "server/service.h"
#include "server/universe_server.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void on_signal(int) { g_stop = 1; }

const char kUsage[] =
    "usage: zelnik-server --data DIR [options]\n"
    "  --data DIR           where the server keeps its databases (created if missing)\n"
    "  --address A          IPv4 address to listen on (default 127.0.0.1)\n"
    "  --universe-port N    universe server port (default 5670; 0 picks a free port)\n"
    "  --minimum-build N    oldest browser build allowed in (default 162)\n"
    "  --current-build N    newest browser build (default 162)\n"
    "  --beta               the current build is a beta\n"
    "  --help               this text\n";

bool parse_number(const char* text, unsigned long max, unsigned long& out) {
    char* end = nullptr;
    errno = 0;
    unsigned long v = std::strtoul(text, &end, 10);
    if (errno || !end || *end || end == text || v > max) return false;
    out = v;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace zk::server;
    std::string data, address = "127.0.0.1";
    unsigned long universe_port = 5670;
    UniverseConfig config;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char* what) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "zelnik-server: %s needs a value\n%s", what, kUsage);
                std::exit(2);
            }
            return argv[++i];
        };
        unsigned long n = 0;
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--data") {
            data = value("--data");
        } else if (a == "--address") {
            address = value("--address");
        } else if (a == "--universe-port") {
            if (!parse_number(value("--universe-port"), 65535, universe_port)) {
                std::fprintf(stderr, "zelnik-server: --universe-port takes a number from 0 to 65535\n");
                return 2;
            }
        } else if (a == "--minimum-build" || a == "--current-build") {
            if (!parse_number(value(a.c_str()), 0xFFFFFFFFul, n)) {
                std::fprintf(stderr, "zelnik-server: %s takes a build number\n", a.c_str());
                return 2;
            }
            (a == "--minimum-build" ? config.minimum_build : config.current_build) = static_cast<uint32_t>(n);
        } else if (a == "--beta") {
            config.beta = true;
        } else {
            std::fprintf(stderr, "zelnik-server: unknown option %s\n%s", a.c_str(), kUsage);
            return 2;
        }
    }
    if (data.empty()) {
        std::fprintf(stderr, "zelnik-server: --data DIR is required\n%s", kUsage);
        return 2;
    }
    if (mkdir(data.c_str(), 0700) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "zelnik-server: cannot create %s: %s\n", data.c_str(), std::strerror(errno));
        return 1;
    }
    if (access(data.c_str(), R_OK | W_OK | X_OK) != 0) {
        std::fprintf(stderr, "zelnik-server: cannot use %s: %s\n", data.c_str(), std::strerror(errno));
        return 1;
    }

    Citizens citizens;
    if (std::string e = citizens.open(data + "/universe.db"); !e.empty()) {
        std::fprintf(stderr, "zelnik-server: %s\n", e.c_str());
        return 1;
    }
    UniverseServer universe(citizens, config);
    if (std::string e = universe.listen_on(address, static_cast<uint16_t>(universe_port)); !e.empty()) {
        std::fprintf(stderr, "zelnik-server: universe: %s\n", e.c_str());
        return 1;
    }
    server_log("universe server on %s:%u", address.c_str(), universe.port());

    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::vector<Service*> services = {&universe};
    std::vector<pollfd> fds;
    while (!g_stop) {
        fds.clear();
        for (Service* s : services) s->collect(fds);
        int n = poll(fds.data(), fds.size(), 1000);
        if (n < 0 && errno != EINTR) {
            server_log("poll: %s", std::strerror(errno));
            return 1;
        }
        if (n < 0) continue;
        const int64_t now = now_ms();
        for (Service* s : services) s->dispatch(fds, now);
    }
    server_log("stopping");
    return 0;
}
