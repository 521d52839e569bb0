#include "world/pdialog.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <deque>
#include <utility>
#include <vector>

#include "common/messages.h"
#include "core/log.h"
#include "core/settings.h"
#include "net/login.h"
#include "net/universe.h"
#include "world/cell.h"
#include "world/pick.h"

namespace zk {

namespace {

constexpr int kBuckets = 101;
constexpr size_t kNameBytes = 255;

struct State {
    ObjectFields remembered;
    uint32_t owner = 0;  // of the object shown
    bool filled = false;
    // Citizen number to name; numbers asked of the universe, oldest first.
    std::vector<std::pair<uint32_t, std::string>> names[kBuckets];
    size_t name_count = 0;
    std::deque<uint32_t> asked;
    bool place_held = false;
    int place_x = 0, place_y = 0;
    std::chrono::steady_clock::time_point placed;
};
State g;

const std::string* cached_name(uint32_t number) {
    for (const auto& [n, name] : g.names[number % kBuckets])
        if (n == number) return &name;
    return nullptr;
}

void cache_name(uint32_t number, const std::string& name) {
    if (cached_name(number)) return;
    // A full table starts over rather than grow with every owner met.
    if (g.name_count >= pdialog_name_limit) {
        for (auto& b : g.names) b.clear();
        g.name_count = 0;
    }
    g.names[number % kBuckets].emplace_back(number, name.substr(0, kNameBytes));
    ++g.name_count;
}

void write_place(bool now) {
    const auto t = std::chrono::steady_clock::now();
    if (!g.place_held || (!now && t - g.placed < std::chrono::seconds(1))) return;
    settings_put_int("layout", "object_x", g.place_x);
    settings_put_int("layout", "object_y", g.place_y);
    g.place_held = false;
    g.placed = t;
}

void show_window() {
    const bool placed = !settings_get_string("layout", "object_x").empty() &&
                        !settings_get_string("layout", "object_y").empty();
    object_window().show(true, placed, settings_get_int("layout", "object_x"), settings_get_int("layout", "object_y"));
}

}  // namespace

void pdialog_init() {
    if (log_on(Trace::trace)) log_write("pdialog_init");
    pdialog_clear();
    if (settings_get_int("layout", "object") == 1) show_window();
}

void pdialog_update() { write_place(false); }

void pdialog_fill(const object* o) {
    g.remembered = {o->model_name, o->description, o->action, std::to_string(o->owner)};
    g.owner = o->owner;
    g.filled = true;
    ObjectWindowPort& w = object_window();
    w.set_fields(g.remembered);
    w.set_owner_name("  " + pdialog_owner_name(o->owner));
    const std::string built = pdialog_time_text(o->timestamp);
    w.set_time_built(built.empty() ? built : "  " + built);
    w.enable(true);
}

void pdialog_clear() {
    g.remembered = {};
    g.filled = false;
    ObjectWindowPort& w = object_window();
    w.set_fields({});
    w.set_owner_name("");
    w.set_time_built("");
    w.enable(false);
}

ObjectFields pdialog_fields() { return object_window().fields(); }

const ObjectFields& pdialog_remembered() { return g.remembered; }

void pdialog_restore() { object_window().set_fields(g.remembered); }

void pdialog_toggle() {
    if (object_window().shown()) {
        write_place(true);
        object_window().show(false, false, 0, 0);
    } else {
        show_window();
    }
    settings_put_int("layout", "object", object_window().shown() ? 1 : 0);
}

void pdialog_closed() {
    write_place(true);
    object_window().show(false, false, 0, 0);
    settings_put_int("layout", "object", 0);
    pick_off();
}

void pdialog_moved(int x, int y) {
    g.place_held = true;
    g.place_x = x;
    g.place_y = y;
    write_place(false);
}

std::string pdialog_owner_name(uint32_t number) {
    if (number == 0) return "<Tourist>";
    if (number == identity_citizen() && !identity_is_tourist()) return identity_name();
    if (const std::string* name = cached_name(number)) return *name;
    for (uint32_t n : g.asked)
        if (n == number) return "";
    if (universe_get_citizen_name(number) == 0) {
        if (g.asked.size() >= pdialog_lookup_limit) g.asked.pop_front();
        g.asked.push_back(number);
    }
    return "";
}

void pdialog_citizen_name(uint32_t number, int rc, const std::string& name) {
    // Only answers to our own questions are kept: the universe cannot fill
    // the table by itself.
    bool asked = false;
    for (auto it = g.asked.begin(); it != g.asked.end(); ++it)
        if (*it == number) {
            g.asked.erase(it);
            asked = true;
            break;
        }
    if (!asked) return;
    cache_name(number, rc == 0 ? name : load_message(29));
    if (g.filled && g.owner == number) object_window().set_owner_name("  " + *cached_name(number));
}

std::string pdialog_time_text(uint32_t timestamp) {
    if (timestamp == 0) return "";
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t t = timestamp;
    std::tm tm{};
    if (!localtime_r(&t, &tm)) return "";
    char text[64];
    const int hour = tm.tm_hour % 12 == 0 ? 12 : tm.tm_hour % 12;
    std::snprintf(text, sizeof text, "%s %s %d, %d %d:%02d %s", kDays[tm.tm_wday % 7], kMonths[tm.tm_mon % 12],
                  tm.tm_mday, tm.tm_year + 1900, hour, tm.tm_min, tm.tm_hour < 12 ? "AM" : "PM");
    return text;
}

}  // namespace zk
