#include "shell/teleport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>

#include "common/text.h"
#include "core/log.h"
#include "core/message.h"
#include "core/settings.h"
#include "core/tasks.h"
#include "net/universe.h"
#include "people/console.h"
#include "platform/files.h"
#include "shell/menu.h"
#include "view/camera.h"
#include "view/self.h"
#include "world/behavior.h"
#include "world/world.h"

namespace zk {

namespace {

struct State {
    std::vector<TeleportNode> nodes;
    size_t current = 0;  // meaningful while nodes is not empty
    std::vector<LocationEntry> list;
    std::vector<size_t> order;  // menu position -> index in list
    std::vector<std::string> worlds;
    uint32_t worlds_tick = 0;
    unsigned worlds_serial = 0;  // 0: no list yet
};
State g;

void trace(const char* text) {
    if (log_on(Trace::trace)) log_write("%s", text);
}

std::string file_path() { return program_directory() + "/teleport.txt"; }

// --- History ---------------------------------------------------------------

void save_state(TeleportNode& node) {
    self_position(&node.x, &node.y, &node.z);
    node.yaw = self_yaw();
    node.third_person = camera_third_person();
    node.flying = self_flying();
}

// Back and Forward are enabled exactly while there is a place that way.
void update_commands() {
    const bool any = !g.nodes.empty();
    menu_set_enabled(kCommandTeleportBack, any && g.current > 0);
    menu_set_enabled(kCommandTeleportForward, any && g.current + 1 < g.nodes.size());
}

bool step_to(size_t index) {
    save_state(g.nodes[g.current]);
    g.current = index;
    // Copied: entering the world may come back here (a refused entry).
    const TeleportNode node = g.nodes[index];
    const bool entered = world_enter(node.world, 0) == 0;
    self_set_position(node.x, node.y, node.z, node.yaw);
    // Only this place's view: the choice of the View menu is not stored.
    if (node.third_person) camera_track_self(0);
    else camera_track_ahead();
    self_set_flying(node.flying);
    update_commands();
    return entered;
}

// --- Remembered locations ----------------------------------------------------

bool control_byte(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7f;
}

// A name as a line of the file can hold it: up to its first line break,
// other control bytes as blanks, cut (on a character) to `limit` bytes.
std::string clean_name(const std::string& typed, size_t limit) {
    std::string name = typed.substr(0, typed.find_first_of("\r\n"));
    for (char& c : name)
        if (control_byte(c)) c = ' ';
    name.resize(utf8_cut(name, limit));
    return name;
}

size_t name_room(const std::string& location) {
    return location.size() + 1 >= kLocationLineMax ? 0 : kLocationLineMax - location.size() - 1;
}

void rebuild_menu() {
    g.order = teleport_menu_order(g.list);
    std::vector<std::string> names;
    names.reserve(g.order.size());
    for (size_t i : g.order) names.push_back(g.list[i].name);
    menu_set_locations(names);
}

// The first bytes of teleport.txt, if it is a regular file; `cut` when there
// was more.
bool read_file(const std::string& path, std::string& text, bool* cut) {
    text.clear();
    *cut = false;
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return false;
    }
    text.resize(kLocationFileMax + 1);
    size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    text.resize(got);
    if (got > kLocationFileMax) {
        // Only whole lines of what was read.
        *cut = true;
        text.resize(kLocationFileMax);
        const size_t end = text.rfind('\n');
        text.resize(end == std::string::npos ? 0 : end + 1);
    }
    return true;
}

void report(const LocationSkips& s) {
    if (!s.total() && !s.cut) return;
    std::string parts;
    auto part = [&](size_t n, const std::string& what) {
        if (!n) return;
        parts += (parts.empty() ? "" : ", ") + std::to_string(n) + " " + what;
    };
    part(s.too_long, "too long");
    part(s.control, "with control characters");
    part(s.unreadable, "without a location and a name");
    part(s.over_limit, "beyond the first " + std::to_string(kLocationsMax) + " locations");
    std::string text = s.total() ? std::to_string(s.total()) + " lines skipped: " + parts : "";
    if (s.cut) text += (text.empty() ? "" : "; ") + std::string("only the first ") +
                       std::to_string(kLocationFileMax) + " bytes read";
    if (log_on(Trace::trace)) log_write("teleport_load: %s", text.c_str());
    console_system("teleport.txt", text);
}

}  // namespace

// --- History -------------------------------------------------------------------

void history_push() {
    trace("history_push");
    if (!g.nodes.empty()) {
        g.nodes.resize(g.current + 1);
        save_state(g.nodes[g.current]);
    }
    TeleportNode node;
    node.world = world_name();
    save_state(node);
    g.nodes.push_back(std::move(node));
    if (g.nodes.size() > kHistoryLimit) g.nodes.erase(g.nodes.begin());
    g.current = g.nodes.size() - 1;
    update_commands();
}

bool history_back() {
    trace("history_back");
    if (g.nodes.empty() || g.current == 0) return false;
    return step_to(g.current - 1);
}

bool history_forward() {
    trace("history_forward");
    if (g.nodes.empty() || g.current + 1 >= g.nodes.size()) return false;
    return step_to(g.current + 1);
}

const std::vector<TeleportNode>& history_nodes() { return g.nodes; }
size_t history_current() { return g.current; }

// --- Remembered locations ----------------------------------------------------------

std::string teleport_location_text(const std::string& world, float x, float y, float z, float yaw) {
    // North unless the sign is set, counting -0 as north.
    const bool north = std::bit_cast<uint32_t>(z) <= std::bit_cast<uint32_t>(-0.0f);
    const bool west = !(x < 0);
    // The teleport command reads no sign in a plain position: an altitude
    // below 0 (or -0.0) is written as 0, the ground the user lands on, and
    // a heading of -0 as 0.
    const float heading = yaw < 0 ? yaw + 360 : yaw + 0.0f;
    y = y > 0 ? y : 0;
    char text[64];
    std::snprintf(text, sizeof text, " %.1f%c %.1f%c %.1fa %.0f", static_cast<double>(std::fabs(z)), north ? 'N' : 'S',
                  static_cast<double>(std::fabs(x)), west ? 'W' : 'E', static_cast<double>(y),
                  static_cast<double>(heading));
    return world + text;
}

std::string teleport_location_here() {
    double x = 0, y = 0, z = 0;
    self_position(&x, &y, &z);
    return teleport_location_text(world_name(), static_cast<float>(x), static_cast<float>(y), static_cast<float>(z),
                                  self_yaw());
}

std::vector<LocationEntry> teleport_parse(std::string_view text, LocationSkips* skips) {
    LocationSkips s;
    std::vector<LocationEntry> out;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        if (line.size() > kLocationLineMax) {
            ++s.too_long;
            continue;
        }
        bool control = false;
        for (char c : line) control = control || control_byte(c);
        if (control) {
            ++s.control;
            continue;
        }
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0 || colon + 1 == line.size()) {
            ++s.unreadable;
            continue;
        }
        if (out.size() >= kLocationsMax) {
            ++s.over_limit;
            continue;
        }
        out.push_back({std::string(line.substr(colon + 1)), std::string(line.substr(0, colon))});
    }
    if (skips) *skips = s;
    return out;
}

std::string teleport_format(const std::vector<LocationEntry>& entries) {
    std::string text;
    for (const LocationEntry& e : entries) text += e.location + ":" + e.name + "\n";
    return text;
}

std::vector<size_t> teleport_menu_order(const std::vector<LocationEntry>& entries) {
    // Each goes before the first item whose name is not less than its own.
    std::vector<size_t> order;
    order.reserve(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        auto at = order.begin();
        while (at != order.end() && less_ignoring_case(entries[*at].name, entries[i].name)) ++at;
        order.insert(at, i);
    }
    return order;
}

void teleport_load() {
    trace("teleport_load");
    std::string text;
    LocationSkips skips;
    g.list.clear();
    if (read_file(file_path(), text, &skips.cut)) {
        const bool cut = skips.cut;
        g.list = teleport_parse(text, &skips);
        skips.cut = cut;
        report(skips);
    }
    rebuild_menu();
    update_commands();
}

void teleport_term() {
    trace("teleport_term");
    g = State{};
}

const std::vector<LocationEntry>& teleport_locations() { return g.list; }

bool teleport_store(const std::vector<LocationEntry>& entries) {
    const std::string path = file_path();
    if (!file_replace(path, teleport_format(entries))) {
        if (log_on(Trace::trace)) log_write("teleport_store: cannot write %s", path.c_str());
        message_box("Could not save the remembered locations in %s; they are as they were.", path.c_str());
        return false;
    }
    g.list = entries;
    rebuild_menu();
    return true;
}

bool teleport_remember(const std::string& typed) {
    const std::string location = teleport_location_here();
    bool usable = location.find(':') == std::string::npos;
    for (char c : location) usable = usable && !control_byte(c);
    const std::string name = clean_name(typed, name_room(location));
    if (!usable || name.empty()) return false;
    std::vector<LocationEntry> entries;
    entries.reserve(g.list.size() + 1);
    entries.push_back({name, location});  // newest first
    entries.insert(entries.end(), g.list.begin(), g.list.end());
    if (entries.size() > kLocationsMax) entries.resize(kLocationsMax);
    return teleport_store(entries);
}

void teleport_command(int command) {
    switch (command) {
    case kCommandTeleportBack: history_back(); return;
    case kCommandTeleportForward: history_forward(); return;
    case kCommandTeleportTo:
        if (dialogs_present()) {
            TeleportDialog d;
            dialogs().run_teleport(d);
        }
        return;
    case kCommandTeleportRemember:
        if (dialogs_present()) {
            RememberDialog d;
            dialogs().run_remember(d);
        }
        return;
    case kCommandTeleportEdit:
        if (dialogs_present()) {
            LocationsDialog d;
            dialogs().run_locations(d);
        }
        return;
    default: return;
    }
}

bool teleport_location_command(int command) {
    const long k = static_cast<long>(command) - kCommandLocationBase;
    if (k < 0 || static_cast<size_t>(k) >= g.order.size()) return false;
    behavior_queue("teleport " + g.list[g.order[static_cast<size_t>(k)]].location);
    return true;
}

// --- World list ------------------------------------------------------------------

std::vector<std::string> teleport_parse_worlds(const uint8_t* bytes, size_t length) {
    std::vector<std::string> names;
    size_t at = 0;
    while (bytes && at < length && names.size() < kWorldListMax) {
        const size_t n = bytes[at];
        if (n > length - at - 1) break;
        std::string name(reinterpret_cast<const char*>(bytes) + at + 1, n);
        at += 1 + n;
        bool shown = !name.empty();
        for (char c : name) shown = shown && !control_byte(c);
        if (shown) names.push_back(std::move(name));
    }
    return names;
}

void teleport_world_list(const uint8_t* bytes, size_t length) {
    g.worlds = teleport_parse_worlds(bytes, length);
    g.worlds_tick = tick_now();
    if (++g.worlds_serial == 0) g.worlds_serial = 1;
}

// --- Dialogs -----------------------------------------------------------------------

TeleportWorlds TeleportDialog::initial() {
    TeleportWorlds w;
    w.text = world_name();
    if (g.worlds_serial != 0 && tick_now() - g.worlds_tick < kWorldListFresh) {
        w.fill = true;
        w.names = g.worlds;
    } else {
        universe_get_worlds();
    }
    seen_ = g.worlds_serial;
    return w;
}

TeleportWorlds TeleportDialog::poll() {
    TeleportWorlds w;
    if (g.worlds_serial == seen_) return w;
    seen_ = g.worlds_serial;
    w.changed = w.fill = true;
    w.names = g.worlds;
    w.text = world_name();
    return w;
}

void TeleportDialog::ok(const std::string& world, const std::string& coordinates) {
    behavior_queue("teleport " + world + " " + coordinates);
}

int RememberDialog::name_limit() { return static_cast<int>(name_room(teleport_location_here())); }

bool RememberDialog::ok(const std::string& name) {
    if (clean_name(name, kLocationLineMax).empty()) return false;
    teleport_remember(name);
    return true;
}

LocationsDialog::LocationsDialog() {
    for (size_t i : g.order) copy_.push_back(g.list[i]);
}

std::vector<std::string> LocationsDialog::names() {
    std::vector<std::string> n;
    for (const LocationEntry& e : copy_) n.push_back(e.name);
    return n;
}

std::string LocationsDialog::rename(int index, const std::string& name) {
    if (index < 0 || static_cast<size_t>(index) >= copy_.size()) return "";
    LocationEntry& e = copy_[static_cast<size_t>(index)];
    const std::string kept = clean_name(name, name_room(e.location));
    if (!kept.empty()) e.name = kept;
    return kept;
}

void LocationsDialog::remove(int index) {
    if (index >= 0 && static_cast<size_t>(index) < copy_.size()) copy_.erase(copy_.begin() + index);
}

bool LocationsDialog::ok() { return teleport_store(copy_); }

}  // namespace zk
