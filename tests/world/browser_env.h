// The browser side of the world tests: an open cell cache, a fake window
// system that keeps every pane text, and the world-server connection's
// ports pointed at a test peer, with a frame clock the test moves by hand.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/settings.h"
#include "art/database.h"
#include "net/tcp.h"
#include "platform/os.h"
#include "support/fake_ui.h"
#include "support/temp_dir.h"
#include "world/cell.h"
#include "world/prop.h"

namespace zk::test {

class PaneUi : public FakeUi {
public:
    std::vector<std::string> pane_history;
    bool showed(const std::string& text) const {
        return std::find(pane_history.begin(), pane_history.end(), text) != pane_history.end();
    }
    void status_pane_set(int pane, const std::string& text) override {
        pane_history.push_back(text);
        FakeUi::status_pane_set(pane, text);
    }
};

// An object of the cell cache, copied out.
struct Cached {
    int number;
    uint32_t owner;
    std::string model, action;
    double x, y, z;
    float yaw;
};

// The objects of a cached cell, in cache order.
inline std::vector<Cached> cached(int16_t x, int16_t z) {
    std::vector<Cached> out;
    cell_start(x, z);
    object* o = nullptr;
    while (cell_next(&o)) {
        out.push_back({o->number, o->owner, o->model_name, o->action, o->x, o->y, o->z, o->yaw});
        object_destroy(o);
    }
    return out;
}

// What the connection told the rest of the program.
struct Seen {
    std::vector<std::pair<int, int>> changed;
    std::vector<std::string> console;
    int relogins = 0;
    int unable = 0;
};

class BrowserEnv {
public:
    // The world's state as the ports report it.
    static inline uint32_t now = 1000;
    static inline double x = 0.5, y = 0, z = 0.5;
    static inline bool known = true;
    static inline bool pending = false;
    static inline uint32_t address = 0;
    static inline uint16_t port = 0;
    static inline uint32_t citizen = 0x01020304;
    static inline Seen seen;
    // Runs inside the visibility hook (after the record is kept).
    static inline std::function<void(int, int)> on_changed;
    // Added to the network clock (the TCP layer's time-outs).
    static inline uint32_t net_offset = 0;

    explicit BrowserEnv(uint16_t peer_port, const std::string& ini = "") {
        write_file(dir.file("zelnik.ini"), ini);
        settings_set_directory(dir.path());
        ui_set_port(&ui);
        database_init();
        cell_init();
        cell_open(cache_dir(), false);
        now = 1000;
        x = 0.5, y = 0, z = 0.5;
        known = true;
        pending = false;
        address = htonl(INADDR_LOOPBACK);
        port = htons(peer_port);
        citizen = 0x01020304;
        seen = Seen{};
        on_changed = nullptr;
        net_offset = 0;
        net_set_clock([] { return os_tick_count() + net_offset; });
        PropPorts& p = prop_ports();
        p.now = [] { return now; };
        p.server_address = [] { return address; };
        p.server_port = [] { return port; };
        p.attributes_known = [] { return known; };
        p.attributes_pending = [] { return pending; };
        p.unable_to_contact = [] { ++seen.unable; };
        p.attribute = [](int index) { return std::string(index == 15 ? "25" : "?"); };
        p.position = [](double* px, double* py, double* pz) { *px = x, *py = y, *pz = z; };
        p.citizen = [] { return citizen; };
        p.cell_changed = [](int cx, int cz) {
            seen.changed.push_back({cx, cz});
            if (on_changed) on_changed(cx, cz);
        };
        p.console = [](const std::string& speaker, const std::string& text) {
            seen.console.push_back(speaker + ": " + text);
        };
        p.relogin = [] { ++seen.relogins; };
    }

    ~BrowserEnv() {
        prop_term();
        prop_ports_restore();
        cell_term();
        net_set_clock(nullptr);
        ui_set_port(nullptr);
    }

    std::string cache_dir() const { return dir.path() + "/cache/property/zk"; }

    // Runs frames (with a short pause between them so that the peer gets a
    // turn) until `done` holds; false after `ms` of real time.
    static bool frames_until(const std::function<bool()>& done, int ms = 3000) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!done()) {
            if (std::chrono::steady_clock::now() > until) return false;
            prop_update();
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
        return true;
    }

    // Runs frames for a while regardless.
    static void frames_for(int ms) { frames_until([] { return false; }, ms); }

    TempDir dir;
    PaneUi ui;
};

}  // namespace zk::test
