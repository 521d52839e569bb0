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
#include "server/demo.h"
#include "server/object_server.h"
#include "server/service.h"
#include "server/universe_server.h"
#include "server/world_server.h"
#include "server/world_store.h"

#include <algorithm>
#include <memory>
#include <random>
#include <thread>

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
    "  --world NAME[:PORT[:OWNER]]\n"
    "                       run a world (repeatable); PORT 0 or missing picks the\n"
    "                       next port after the universe's (any free port when the universe\n"
    "                       port is 0); OWNER is a citizen number\n"
    "  --objects DIR        the object path trees, one folder per world (default:\n"
    "                       the folder objects beside this program)\n"
    "  --upgrades DIR       serve upgrade kits /upgrade/kit<BUILD>.rtp and\n"
    "                       /upgrade/beta/kit<BUILD>.rtp from DIR (default: the\n"
    "                       folder upgrade of the object tree); see zelnik-kit\n"
    "  --http-port N        object server port (default: the universe port + 10; 0 picks one)\n"
    "  --object-host H[:P]  worlds send H[:P]/<world> as their object path, for objects\n"
    "                       served by another web server from the same tree\n"
    "  --demo               run the demo worlds zk and lagoon when no --world is given\n"
    "  --help               this text\n";

struct WorldOption {
    std::string name;
    unsigned long port = 0, owner = 0;
};

bool parse_world(const std::string& text, WorldOption& w) {
    size_t a = text.find(':');
    w.name = text.substr(0, a);
    if (w.name.empty() || w.name.size() > 40 || w.name.find_first_of(".:/\\ ") != std::string::npos) return false;
    if (a == std::string::npos) return true;
    size_t b = text.find(':', a + 1);
    std::string port = text.substr(a + 1, b == std::string::npos ? std::string::npos : b - a - 1);
    char* end = nullptr;
    w.port = std::strtoul(port.c_str(), &end, 10);
    if (port.empty() || *end || w.port > 65535) return false;
    if (b == std::string::npos) return true;
    std::string owner = text.substr(b + 1);
    w.owner = std::strtoul(owner.c_str(), &end, 10);
    return !owner.empty() && !*end && w.owner <= 0xFFFFFFFFul;
}

// A new world gets its title, open rights and a cache epoch of its own, so
// browsers that cached an older world of the same name start afresh.
void seed_world(zk::server::WorldStore& store, const std::string& name) {
    using namespace zk::server;
    auto attrs = store.attributes();
    if (!attrs.empty()) return;
    std::random_device rd;
    attrs[attr_title] = name;
    attrs[attr_enter] = "*";
    attrs[attr_build] = "*";
    attrs[attr_cache_epoch] = std::to_string(rd());
    store.set_attributes(attrs);
}

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
    std::vector<WorldOption> world_options;
    std::string objects, object_host, upgrades;
    unsigned long http_port = 0;
    bool http_port_given = false;
    bool demo = false;
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
        } else if (a == "--objects") {
            objects = value("--objects");
        } else if (a == "--upgrades") {
            upgrades = value("--upgrades");
        } else if (a == "--http-port") {
            if (!parse_number(value("--http-port"), 65535, http_port)) {
                std::fprintf(stderr, "zelnik-server: --http-port takes a number from 0 to 65535\n");
                return 2;
            }
            http_port_given = true;
        } else if (a == "--object-host") {
            object_host = value("--object-host");
            // It becomes part of every world's object path: a host name and port only.
            const bool plain = !object_host.empty() && object_host.size() <= 200 &&
                               object_host.find_first_not_of("abcdefghijklmnopqrstuvwxyz"
                                                             "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-:") ==
                                   std::string::npos;
            if (!plain) {
                std::fprintf(stderr, "zelnik-server: --object-host takes a host name with an optional :port\n");
                return 2;
            }
        } else if (a == "--demo") {
            demo = true;
        } else if (a == "--world") {
            WorldOption w;
            if (!parse_world(value("--world"), w)) {
                std::fprintf(stderr, "zelnik-server: --world takes NAME[:PORT[:OWNER]] (a name without . : / \\ or blanks)\n");
                return 2;
            }
            world_options.push_back(w);
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

    // Password hashing gets the cores the loop does not need.
    config.hash_threads = std::clamp(std::thread::hardware_concurrency(), 2u, 5u) - 1;
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

    if (objects.empty()) {
        char exe[4096];
        ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        std::string dir = n > 0 ? std::string(exe, static_cast<size_t>(n)) : std::string("./x");
        objects = dir.substr(0, dir.rfind('/')) + "/objects";
    }
    ObjectServer object_server(objects, upgrades);
    if (!http_port_given) http_port = universe_port ? universe_port + 10 : 0;
    if (std::string e = object_server.start(address, static_cast<uint16_t>(http_port)); !e.empty()) {
        std::fprintf(stderr, "zelnik-server: objects: %s\n", e.c_str());
        return 1;
    }
    server_log("object server on %s:%u serving %s", address.c_str(), object_server.port(), objects.c_str());

    if (world_options.empty() && demo) world_options = {{"zk", 0, 0}, {"lagoon", 0, 0}};
    std::vector<std::unique_ptr<WorldStore>> stores;
    std::vector<std::unique_ptr<WorldServer>> worlds;
    uint32_t listen_address = 0;
    {
        unsigned a = 0, b = 0, cc = 0, d = 0;
        if (std::sscanf(address.c_str(), "%u.%u.%u.%u", &a, &b, &cc, &d) == 4)
            listen_address = (a << 24) | (b << 16) | (cc << 8) | d;
    }
    unsigned long next_port = universe.port() + 1;
    for (const WorldOption& w : world_options) {
        auto store = std::make_unique<WorldStore>();
        if (std::string e = store->open(data + "/world-" + w.name + ".db"); !e.empty()) {
            std::fprintf(stderr, "zelnik-server: %s\n", e.c_str());
            return 1;
        }
        seed_world(*store, w.name);
        if (demo) {
            DemoSeedResult r = demo_seed(*store, objects + "/" + w.name + "/world.txt", w.name,
                                         w.owner ? static_cast<uint32_t>(w.owner) : kDemoOwner);
            if (!r.error.empty()) server_log("%s", r.error.c_str());
        }
        WorldConfig wc;
        wc.name = w.name;
        wc.object_path = (object_host.empty() ? address + ":" + std::to_string(object_server.port()) : object_host) +
                         "/" + w.name;
        wc.owner = static_cast<uint32_t>(w.owner);
        auto server = std::make_unique<WorldServer>(*store, wc);
        // With a universe on a port the system picked, so are the worlds'
        // (the port after it may well be taken).
        unsigned long port = w.port ? w.port : universe_port == 0 ? 0 : next_port++;
        if (std::string e = server->listen_on(address, static_cast<uint16_t>(port)); !e.empty()) {
            std::fprintf(stderr, "zelnik-server: world %s: %s\n", w.name.c_str(), e.c_str());
            return 1;
        }
        if (std::string e = server->open_avatar_channel(address); !e.empty()) {
            std::fprintf(stderr, "zelnik-server: world %s: %s\n", w.name.c_str(), e.c_str());
            return 1;
        }
        server->set_identity_check([&universe](uint32_t citizen, uint32_t from) { return universe.logged_in(citizen, from); });
        universe.add_world(w.name, listen_address, server->port());
        server_log("world %s on %s:%u, %zu objects", w.name.c_str(), address.c_str(), server->port(),
                   store->object_count());
        stores.push_back(std::move(store));
        worlds.push_back(std::move(server));
    }

    // Who is behind an avatar: asked only of addresses a world's avatar
    // channel knows, answered with the citizen logged in from there.
    universe.set_whos_at([&worlds, &universe](uint32_t address) -> std::optional<std::string> {
        for (auto& w : worlds)
            if (w->avatars().knows(address)) return universe.name_at(address);
        return std::nullopt;
    });

    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::vector<Service*> services = {&universe};
    for (auto& w : worlds) services.push_back(w.get());
    std::vector<pollfd> fds;
    while (!g_stop) {
        fds.clear();
        for (Service* s : services) s->collect(fds);
        // Short enough for the quiet-sender rule of attribute writes.
        int n = poll(fds.data(), fds.size(), 50);
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
