#include "upgrade/program.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "art/http.h"
#include "common/messages.h"
#include "core/settings.h"
#include "platform/files.h"
#include "platform/os.h"
#include "upgrade/check.h"
#include "upgrade/kit.h"

namespace zk {

const char* upgrade_message(int id) {
    switch (id) {
        case 1: return "Upgrade";
        case 4: return "Searching...";
        case 9: return "Unable to receive update (reason %d)";
        case 12: return "Usage: upgrade <directory> <host> <kit> <execute>";
        case 13: return "Sorry, there is no upgrade available for this version of the %s Browser";
        case 15: return "Unable to locate zelnik.ini";
        case 27: return "receiving response";
        case 62: return "starting";
        default: return "";
    }
}

namespace {

// String 13 names the product, the others carry a number.
std::string load_message_text(int id, int value) {
    char text[256];
    if (id == 13) std::snprintf(text, sizeof text, upgrade_message(id), product_name());
    else std::snprintf(text, sizeof text, upgrade_message(id), value);
    return text;
}

}  // namespace

UpgradeArgs upgrade_split(const std::string& line) {
    UpgradeArgs a;
    size_t p = line.find_first_not_of(' ');
    auto next_word = [&](std::string& out) {
        if (p == std::string::npos) return false;
        const size_t end = line.find(' ', p);
        out = line.substr(p, end == std::string::npos ? std::string::npos : end - p);
        p = end == std::string::npos ? end : line.find_first_not_of(' ', end);
        return true;
    };
    if (!next_word(a.host) || !next_word(a.kit) || p == std::string::npos) return a;
    a.browser = line.substr(p);
    a.ok = true;
    return a;
}

std::string upgrade_receiving_text(uint32_t total_bytes) {
    char text[64];
    std::snprintf(text, sizeof text, "Receiving upgrade (%ldK)", static_cast<long>(total_bytes / 1024));
    return text;
}

std::string upgrade_remaining_text(uint32_t seconds, uint32_t bytes_per_second) {
    char text[96];
    std::snprintf(text, sizeof text, "Time remaining: %d:%2.2d  (%.1f K/sec)", static_cast<int>(seconds / 60),
                  static_cast<int>(seconds % 60), bytes_per_second / 1024.0);
    return text;
}

void upgrade_stats_step(UpgradeStats& s, uint32_t now, uint32_t received, uint32_t total, const std::string& state,
                        UpgradeWindow& w) {
    if (!s.started) {
        if (received == 0) {
            // The client's "x of y" texts would only repeat the bar.
            if (state.find("of") == std::string::npos) w.set_line(1, state);
            return;
        }
        s.started = true;
        s.start = s.sample = now;
        w.set_line(1, upgrade_receiving_text(total));
        w.set_bar(0);
    } else if (now - s.sample > 1000) {
        s.ring[s.slot].ms = now - s.sample;
        s.sample = now;
        uint64_t bytes = 0, ms = 0;
        for (const auto& r : s.ring) {
            bytes += r.bytes;
            ms += r.ms;
        }
        s.slot = (s.slot + 1) % 15;
        s.ring[s.slot].bytes = 0;
        const uint64_t rate = ms ? bytes * 1000 / ms : 0;
        const uint64_t since = now - s.start;
        const uint64_t pace = since ? uint64_t{received} * 1000 / since : 0;
        if (rate > 0 && received > 0 && pace > 0)
            w.set_line(2, upgrade_remaining_text(static_cast<uint32_t>((total > received ? total - received : 0) / pace),
                                                 static_cast<uint32_t>(rate)));
        else if (rate == 0)
            w.set_line(2, "Waiting for data...");
    }
    if (received != s.shown) {
        s.ring[s.slot].bytes += received - s.shown;
        s.shown = received;
        if (total) w.set_bar(static_cast<double>(received) / total);
    }
}

UpgradeHooks upgrade_default_hooks() {
    UpgradeHooks h;
    h.browser_running = [](const std::string& path) { return process_running(path); };
    // A program that runs cannot be opened for writing (ETXTBSY): the same
    // test the system's file lock gave, without changing the file.
    h.browser_released = [](const std::string& path) {
        const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) return false;
        close(fd);
        return true;
    };
    h.start_browser = [](const std::string& path) { return os_spawn(path, {}); };
    return h;
}

namespace {

struct Program {
    UpgradeWindow* window = nullptr;
    UpgradeHooks hooks;
    std::string dir, browser_name, browser;
    http_request* request = nullptr;
    UpgradeState state = UpgradeState::ended;
    UpgradeStats stats;
    int failures = 0;
    uint32_t next_try = 0;
    bool busy = false, destroyed = false;
    int result = -1;
    std::string last_name;
} g;

const char* on_kit_message(int message, const void* arg, void*) {
    UpgradeWindow& w = *g.window;
    const int reason = errno;
    switch (message) {
        case 2:
        case 4: {
            std::string text = static_cast<const char*>(arg);
            if (reason != 0) text += " (reason " + std::to_string(reason) + ")";
            w.stop_box(upgrade_message(1), text);
            break;
        }
        case 5: w.set_bar(*static_cast<const uint16_t*>(arg) / static_cast<double>(kKitProgressFull)); break;
        case 7:
            if (g.last_name != static_cast<const char*>(arg)) {
                g.last_name = static_cast<const char*>(arg);
                w.set_line(2, "Updating " + g.last_name);
            }
            break;
        case 22: w.set_line(2, upgrade_message(4)); break;
        default: break;
    }
    w.pump();
    return g.destroyed ? nullptr : "";
}

void install() {
    g.state = UpgradeState::installing;
    g.window->set_line(1, "Installing upgrade");
    g.window->set_line(2, "");
    // The kit goes to a file of its own first, as the apply reads it back.
    make_directory(g.dir + "/cache");
    make_directory(g.dir + "/cache/tmp");
    const std::string kit = g.dir + "/cache/tmp/upgrade-" + std::to_string(getpid()) + ".rtp";
    const std::string_view bytes(reinterpret_cast<const char*>(http_buffer(g.request)), http_size(g.request));
    if (!file_replace(kit, bytes)) {
        const int reason = errno;
        g.window->stop_box(upgrade_message(1), "Unable to write " + kit + " (reason " + std::to_string(reason) + ")");
        return;
    }
    g.result = kit_apply_file(kit, g.dir, on_kit_message);
    if (g.result == kKitOk && !g.destroyed) g.hooks.start_browser(g.browser);
    unlink(kit.c_str());
}

}  // namespace

bool upgrade_begin(const std::string& line, const std::string& program_dir, UpgradeWindow& window, UpgradeHooks hooks) {
    g = Program{};
    g.window = &window;
    g.hooks = std::move(hooks);
    g.dir = program_dir;
    const UpgradeArgs args = upgrade_split(line);
    if (!args.ok) {
        window.stop_box(upgrade_message(1), upgrade_message(12));
        return false;
    }
    settings_set_directory(program_dir);
    if (!settings_file_exists()) {
        window.stop_box(upgrade_message(1), upgrade_message(15));
        return false;
    }
    // An apply that was cut short is settled before anything else.
    kit_recover(program_dir);
    proxy_init();
    if (http_init() != 0) {
        window.stop_box(upgrade_message(1), load_message_text(9, kHttpNoSession));
        return false;
    }
    g.browser_name = args.browser;
    g.browser = program_dir + "/" + args.browser;
    g.request = http_get(args.host.c_str(), args.kit.c_str());  // the client adds the "/"
    g.state = UpgradeState::downloading;
    return true;
}

bool upgrade_tick(uint32_t now) {
    if (g.busy || g.state == UpgradeState::ended) return g.state != UpgradeState::ended;
    g.busy = true;
    http_update();
    const int rc = g.request ? http_rc(g.request) : kHttpNoMemory;
    if (rc == kHttpInProgress) {
        uint32_t received = 0, total = 0;
        http_progress(g.request, &received, &total);
        upgrade_stats_step(g.stats, now, received, total, http_state(g.request), *g.window);
    } else if (rc == kHttpComplete && g.hooks.browser_running(g.browser)) {
        g.state = UpgradeState::waiting;
        g.window->set_line(1, std::string("Waiting for ") + product_name() + " Browser to exit...");
        g.window->set_line(2, "");
    } else if (rc == kHttpComplete && static_cast<int32_t>(now - g.next_try) < 0) {
        // One second between looks at the browser's file.
    } else if (rc == kHttpComplete && !g.hooks.browser_released(g.browser)) {
        g.state = UpgradeState::waiting;
        g.next_try = now + 1000;
        if (++g.failures > 21) {
            g.window->stop_box(upgrade_message(1), "Unable to access " + g.browser_name);
            g.state = UpgradeState::ended;
        }
    } else {
        if (rc != kHttpComplete) {
            const bool missing = rc == kHttpNotFound || rc == 404;
            g.window->stop_box(upgrade_message(1), missing ? load_message_text(13, 0) : load_message_text(9, rc));
        } else {
            install();
        }
        g.state = UpgradeState::ended;
    }
    g.busy = false;
    return g.state != UpgradeState::ended;
}

void upgrade_window_destroyed() {
    g.destroyed = true;
    if (g.state != UpgradeState::installing) g.state = UpgradeState::ended;
}

void upgrade_end() {
    if (g.request) http_done(g.request);
    g.request = nullptr;
    http_term();
}

UpgradeState upgrade_state() { return g.state; }
int upgrade_result() { return g.result; }

bool upgrade_other_instance(const std::string& program_dir) {
    make_directory(program_dir + "/cache");
    const int fd = open((program_dir + "/cache/upgrade.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;  // no lock to be had: do not stand in the way
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return false;  // kept open until exit
    close(fd);
    return true;
}

}  // namespace zk
