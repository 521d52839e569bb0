#include "shell/web.h"

#include <algorithm>

#include "common/messages.h"
#include "common/text.h"
#include "core/log.h"
#include "core/message.h"
#include "core/settings.h"
#include "net/universe.h"
#include "platform/ui.h"
#include "shell/menu.h"
#include "shell/url.h"
#include "world/behavior.h"
#include "world/world.h"

namespace zk {

namespace {

constexpr int kStatusWeight = 26;
constexpr int kObjectServerPortOffset = 10;  // zelnik-server's default
constexpr const char kTeleport[] = "teleport?";

struct State {
    bool shown = false;
    bool navigating = false;    // a page loads; Stop is enabled
    bool own_move = false;      // the pane's own load, history move, refresh or stop
    bool from_create = false;   // a create clause asked for this navigation
    bool open_pending = false;  // load the last address at the next pass
    std::string last;
    std::string local_folder;  // "file:///.../help/": the program's own pages
    int status_pane = 0;
};
State g;

// The host of an http or https address, without user, port or brackets,
// and the rest from the first '/', '?' or '#'.
bool web_parts(const std::string& address, std::string* host, std::string* rest) {
    const size_t scheme_end = address.find("://");
    if (scheme_end == std::string::npos) return false;
    const std::string scheme = lower_case(address.substr(0, scheme_end));
    if (scheme != "http" && scheme != "https") return false;
    const size_t start = scheme_end + 3, end = std::min(address.find_first_of("/?#", start), address.size());
    std::string authority = address.substr(start, end - start);
    if (const size_t at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
    if (!authority.empty() && authority[0] == '[') {
        const size_t close = authority.find(']');
        *host = close == std::string::npos ? authority.substr(1) : authority.substr(1, close - 1);
    } else {
        *host = authority.substr(0, authority.find(':'));
    }
    *rest = address.substr(end);
    return true;
}

// A link to one of the two teleport script folders.
bool teleport_link(const std::string& address) {
    if (address.find(kTeleport) == std::string::npos) return false;
    std::string host, rest;
    if (!web_parts(address, &host, &rest) || !starts_with_ignoring_case(rest, "/cgi-bin/")) return false;
    return (!universe_host().empty() && equal_ignoring_case(host, universe_host())) ||
           equal_ignoring_case(host, kWebPublicCgiHost);
}

// "…/cgi-bin/teleport?lagoon_10N_5W" -> "teleport lagoon 10N 5W".
std::string teleport_command(const std::string& address) {
    std::string text = address.substr(address.find(kTeleport));
    const size_t query = sizeof kTeleport - 2;
    text[query] = ' ';
    std::replace(text.begin() + query, text.end(), '_', ' ');
    return text;
}

// Whether an address is the program's own page: in the folder it showed,
// never above it.
bool local_page(const std::string& address) {
    return !g.local_folder.empty() && address.compare(0, g.local_folder.size(), g.local_folder) == 0 &&
           address.find("..") == std::string::npos && address.find('\\') == std::string::npos &&
           url_checked(address, true) == address;
}

// The address the pane may show ("" when refused): a web page (http added
// to a bare host/path), or one of the program's own pages.
std::string normalized(const std::string& address) {
    if (local_page(address)) return address;
    return url_checked(address);
}

void set_commands(bool shown) {
    for (int command = kCommandWebBack; command <= kCommandWebOpen; ++command)
        menu_set_enabled(command, shown && (command != kCommandWebBack + 2 || g.navigating));
    menu_set_enabled(kCommandWebWorlds, true);
    menu_set_checked(kCommandShowWeb, shown);
}

void set_navigating(bool on) {
    g.navigating = on;
    menu_set_enabled(kCommandWebBack + 2, on);
}

// The pane's own load: decided here, then handed to the control with
// own_move set so that its own notice of the load passes. `user_act`: the
// user asked for this address (a remembered one shown again is not).
void load(const std::string& address, bool user_act) {
    const std::string a = normalized(address);
    if (a.empty() || web_navigation(a, user_act) == WebVerdict::refuse) return;
    g.own_move = true;
    ui().web_navigate(a);
    g.own_move = false;
}

// Back, Forward, Refresh and Stop: the control moves by itself.
void own_move(void (UiPort::*move)(), bool starts_navigation) {
    if (!g.shown) return;
    g.own_move = true;
    (ui().*move)();
    g.own_move = false;
    if (starts_navigation) set_navigating(true);
}

void toggle() {
    if (g.shown) {
        ui().web_pane_show(false);
        g.shown = false;
        if (g.status_pane) ui().status_pane_remove(g.status_pane);
        g.status_pane = 0;
        g.navigating = false;
    } else if (ui().web_pane_show(true)) {
        g.shown = true;
        g.status_pane = ui().status_pane_add(kStatusWeight);
        g.navigating = false;
        if (!g.last.empty()) load(g.last, false);
    } else {
        message_box("%s", load_message(86));
    }
    set_commands(g.shown);
    settings_put_int("show", "web", g.shown ? 1 : 0);
}

}  // namespace

void web_init() {
    if (log_on(Trace::trace)) log_write("web_init");
    g = State{};
    if (settings_get_int("show", "web") > 0 && ui().web_pane_show(true)) {
        g.shown = true;
        g.status_pane = ui().status_pane_add(kStatusWeight);
        g.open_pending = true;
    }
    set_commands(g.shown);
}

void web_update() {
    if (!g.shown) return;
    if (g.open_pending) {
        g.open_pending = false;
        if (!g.last.empty()) load(g.last, false);
    }
    if (g.navigating && !ui().web_busy()) set_navigating(false);
}

void web_term() {
    if (log_on(Trace::trace)) log_write("web_term");
    if (g.shown && ui_present()) ui().web_pane_show(false);
    g = State{};
}

void web_command(int command) {
    switch (command) {
    case kCommandShowWeb: toggle(); return;
    case kCommandWebBack: own_move(&UiPort::web_back, true); return;
    case kCommandWebBack + 1: own_move(&UiPort::web_forward, true); return;
    case kCommandWebBack + 2: own_move(&UiPort::web_stop, false); return;
    case kCommandWebRefresh: own_move(&UiPort::web_reload, true); return;
    case kCommandWebOpen: {
        std::string address = g.last;
        if (ui().web_open_dialog(address)) web_open(address, false);
        return;
    }
    case kCommandWebWorlds: web_open(web_worlds_address(), false); return;
    default: return;
    }
}

bool web_shown() { return g.shown; }

void web_open(const std::string& address, bool from_create) {
    if (address.empty()) return;
    if (log_on(Trace::trace)) log_write("web_open %s%s", address.c_str(), from_create ? " (create)" : "");
    if (!g.shown) {
        if (!from_create) url_open(address);
        g.last = address;
        return;
    }
    const bool outer = g.from_create;
    g.from_create = from_create;
    load(address, true);
    g.from_create = outer;
}

bool web_show_local(const std::string& address) {
    if (!g.shown) return false;
    g.local_folder = address.substr(0, address.rfind('/') + 1);
    load(address, false);
    return true;
}

WebVerdict web_navigation(const std::string& address, bool user_clicked, bool main_frame) {
    if (g.own_move) return WebVerdict::allow;
    const std::string a = normalized(address);
    if (a.empty()) return WebVerdict::refuse;
    if (teleport_link(a)) {
        // A teleport is the user's own act: a click, not a page or a world
        // moving the user by itself.
        if (main_frame && user_clicked && !g.from_create) {
            const std::string command = teleport_command(a);
            if (log_on(Trace::trace)) log_write("web: %s", command.c_str());
            behavior_queue(command);
        }
        return WebVerdict::refuse;
    }
    if (!main_frame) return WebVerdict::allow;
    g.last = a;
    set_navigating(true);
    return WebVerdict::allow;
}

void web_status(const std::string& text) {
    if (!g.status_pane || !ui_present()) return;
    std::string shown = text.substr(0, 256);
    std::replace_if(shown.begin(), shown.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }, ' ');
    ui().status_pane_set(g.status_pane, shown);
}

std::string web_worlds_address() {
    const std::string& host = universe_host();
    // The current world's object tree names where zelnik-server serves it.
    std::string path = world_attribute(attr_object_path);
    if (starts_with_ignoring_case(path, "http://")) path.erase(0, 7);
    const std::string authority = path.substr(0, path.find('/'));
    const size_t colon = authority.find(':');
    const bool plain = authority.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-:") ==
                       std::string::npos;
    std::string address = "http://";
    if (plain && colon != std::string::npos && equal_ignoring_case(authority.substr(0, colon), host)) {
        address += authority;
    } else {
        int port = settings_get_int("universe", "port");
        if (port <= 0 || port > 65535) port = universe_default_port;
        port += kObjectServerPortOffset;
        address += host;
        if (port <= 65535) {
            address += ':';
            address += std::to_string(port);
        }
    }
    address += '/';
    address += kWebWorldsPath;
    return address;
}

const std::string& web_last_address() { return g.last; }
bool web_navigating() { return g.navigating; }

}  // namespace zk
