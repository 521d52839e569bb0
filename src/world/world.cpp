#include "world/world.h"

#include <arpa/inet.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "core/log.h"
#include "core/message.h"
#include "core/settings.h"
#include "art/database.h"
#include "art/zip.h"
#include "common/keyed_table.h"
#include "common/messages.h"
#include "common/pkcipher.h"
#include "net/universe.h"
#include "people/console.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/ui.h"
#include "view/camera.h"
#include "view/self.h"
#include "world/prop.h"

namespace zk {

namespace {

constexpr const char* kSwitchboard = "Switchboard Operator";
constexpr int kKeyLength = 50;

struct Address {
    uint32_t address;  // network order
    uint16_t port;
};

struct State {
    std::string name;             // the current world (empty before the first)
    bool attributes_known = false;
    bool attributes_pending = false;
    std::string title;
    std::optional<std::string> previous_epoch;
    std::string caches_world;     // whose caches are in use (a name the user asked for)
    bool epoch_changed = false;
    bool public_speaker = false;
    long number_21 = 0;
    uint32_t address = 0;
    uint16_t port = 0;
    Database* cache = nullptr;
    std::vector<std::string> history;
};
State g;
WorldHooks g_hooks;

KeyedTable& addresses() {
    static KeyedTable table(37, sizeof(Address));
    return table;
}

void trace(const char* text) {
    if (log_on(Trace::trace)) log_write("%s", text);
}

void say(const std::string& text) { console_system(kSwitchboard, text); }

// A world name as a directory name: nothing that leaves the cache tree,
// and two names never share one (an escaped byte is "%XX").
std::string safe_directory_name(const std::string& name) {
    std::string out;
    for (char c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 32 || c == '/' || c == '\\' || c == ':' || c == '%' || u == 127) {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", u);
            out += escaped;
        } else {
            out.push_back(c);
        }
    }
    if (out.empty() || out.find_first_not_of('.') == std::string::npos) out = "-" + out;
    return out;
}

std::string cache_key(const std::string& name) { return name.substr(0, kKeyLength); }

void welcome() { say(std::string("Welcome to \"") + world_attribute(attr_title) + "\""); }

// Makes the attributes take effect.
void apply(bool entering) {
    if (g_hooks.refresh_minutes) g_hooks.refresh_minutes(static_cast<long>(attribute_number(attr_refresh)));
    g.title = world_attribute(attr_title);
    const std::string epoch = world_attribute(attr_cache_epoch);
    g.epoch_changed = g.previous_epoch && *g.previous_epoch != epoch;

    // The caches are the world's the user asked for: what a world says its
    // name is (attribute 16) never picks them, or one world could fill
    // another's.
    make_directory(program_directory() + "/cache/property");
    make_directory(world_property_directory());

    bool art_changed = g_hooks.object_path && g_hooks.object_path(world_attribute(attr_object_path));
    if (art_changed || entering || g.epoch_changed || g.name != g.caches_world) {
        if (g_hooks.reset) g_hooks.reset();
    }
    g.caches_world = g.name;
    g.epoch_changed = false;
    g.previous_epoch.reset();

    if (g_hooks.backdrop) g_hooks.backdrop(world_attribute(attr_backdrop));
    camera_set_color(attribute_number(attr_red), attribute_number(attr_green), attribute_number(attr_blue));
    if (g_hooks.ground) g_hooks.ground(world_attribute(attr_ground));
    // The title shows the world with the user's place in it.
    self_refresh_title(true);

    g.public_speaker = world_attribute(attr_public_speaker) == "Y";
    if (g_hooks.public_speaker) g_hooks.public_speaker(g.public_speaker);
    if (g_hooks.home_page && !world_attribute(attr_home_page).empty()) g_hooks.home_page(world_attribute(attr_home_page));

    g.number_21 = attribute_number(attr_number_21);
    // The zip reader deciphers the attribute itself.
    const std::string ciphered = world_attribute(attr_object_password);
    zip_set_password(reinterpret_cast<const uint8_t*>(ciphered.data()), ciphered.size());

    if (entering && g.attributes_known) welcome();
}

void back_or_exit(bool refused) {
    if (g_hooks.history_back ? g_hooks.history_back() : world_history_back()) return;
    if (!refused) return;
    message_box("Unable to enter any world.  %s will now exit.", product_name());
    if (ui_present()) ui().quit_loop();
}

void attribute_reply(const uint8_t* body, size_t length, int code) {
    g.attributes_pending = false;
    if (code == 1) {
        say("Sorry, you are not allowed to enter \"" + g.name + "\"");
        back_or_exit(true);
        return;
    }
    if (code != 0) {
        say("Could not enter world (reason " + std::to_string(code) + ")");
        back_or_exit(false);
        return;
    }
    const std::string list(reinterpret_cast<const char*>(body), length);
    attributes_decode(body, length);
    apply(false);
    // Filed under the name the universe looked up, whatever the world calls
    // itself; the history keeps the places the user came from as they were.
    if (g.cache && !g.name.empty())
        database_store(g.cache, cache_key(g.name), list.data(), static_cast<int>(list.size()));
    if (!g.attributes_known) welcome();
    g.attributes_known = true;
}

}  // namespace

WorldHooks& world_hooks() { return g_hooks; }

bool world_init() {
    trace("world_init");
    make_directory(program_directory() + "/cache/property");
    g.cache = database_open(program_directory() + "/cache/world", kKeyLength, 0, 1024, 1024, true, true);
    return g.cache != nullptr;
}

void world_term() {
    trace("world_term");
    if (g.cache) database_close(g.cache);
    g.cache = nullptr;
    addresses().clear();
    g = State{};
    attributes_clear();
}

int world_enter(const std::string& name, int record) {
    if (log_on(Trace::trace)) log_write("world_enter (%s)", name.c_str());
    if (name.empty() || name.find_first_of(".:") != std::string::npos) return 1;
    if (name == g.name) return 0;

    const std::string previous = g.name;
    g.name = name;
    if (record && !previous.empty() && !g_hooks.history_push) world_history_push(previous);

    auto fail = [&](int rc) {
        g.name.clear();
        return rc;
    };

    // 3. Where the world's server is: asked once per run.
    g.address = 0;
    g.port = 0;
    if (universe_connected()) {
        if (const auto* known = addresses().find_as<Address>(name.data(), name.size())) {
            g.address = known->address;
            g.port = known->port;
        } else {
            uint32_t address = 0;
            uint16_t port = 0;
            if (int rc = universe_lookup_world(name, &address, &port)) return fail(rc);
            g.address = htonl(address);
            g.port = htons(port);
            *addresses().find_or_add_as<Address>(name.data(), name.size()) = {g.address, g.port};
        }
    }

    // 4. What we knew of it.
    std::vector<uint8_t> cached;
    if (g.cache && database_fetch_unknown(g.cache, cache_key(name), cached)) {
        attributes_decode(cached.data(), cached.size());
        g.attributes_known = true;
    } else {
        attributes_clear();
        g.attributes_known = false;
    }

    // 5. Apply, forgetting the previous epoch so only the server's change
    // of it empties the cell cache.
    g.previous_epoch.reset();
    apply(true);
    g.previous_epoch = world_attribute(attr_cache_epoch);

    // 6. Ask the server.
    prop_reset();
    if (prop_attributes_get(attribute_reply) != 0) return fail(1);
    g.attributes_pending = true;
    // Only a world actually entered is a place to come back to.
    if (record && g_hooks.history_push) g_hooks.history_push();
    return 0;
}

const std::string& world_name() { return g.name; }
uint32_t world_server_address() { return g.address; }
uint16_t world_server_port() { return g.port; }
bool world_attributes_known() { return g.attributes_known; }
bool world_attributes_pending() { return g.attributes_pending; }

void world_attributes_request() {
    if (prop_attributes_get(attribute_reply) == 0) g.attributes_pending = true;
}
const std::string& world_title() { return g.title; }
bool world_public_speaker() { return g.public_speaker; }
bool world_epoch_changed() { return g.epoch_changed; }

std::string world_property_directory() {
    return program_directory() + "/cache/property/" + safe_directory_name(g.name);
}

void world_unable_to_contact() {
    if (!g.name.empty()) say("Unable to contact " + g.name);
    back_or_exit(false);
}

void world_set_avatar(int avatar) {
    if (!g.cache) return;
    uint8_t b = static_cast<uint8_t>(avatar);
    database_store(g.cache, cache_key(g.name + "-avatar"), &b, 1);
}

int world_avatar() {
    if (!g.cache) return 0;
    uint8_t b = 0;
    int length = 0;
    if (!database_fetch(g.cache, cache_key(g.name + "-avatar"), &b, 1, &length)) return 0;
    if (b > 250 && world_attribute(attr_public_speaker) != "Y") return 0;
    return b;
}

void world_history_push(const std::string& name) {
    // Bounded: the full teleport history keeps its own list.
    if (g.history.size() >= 64) g.history.erase(g.history.begin());
    g.history.push_back(name);
}

bool world_history_back() {
    while (!g.history.empty()) {
        std::string previous = g.history.back();
        g.history.pop_back();
        if (previous == g.name) continue;
        g.name.clear();
        if (world_enter(previous, 0) == 0) return true;
    }
    return false;
}

std::string world_rights_summary(const std::string& list) {
    if (list.empty()) return "Nobody";
    if (list == "*") return "Everybody";
    return "Restricted";
}

}  // namespace zk
