// The identity and the sign-in flow: start-up's login, and the entry points
// that open the dialogs (whose controllers are in login_dialogs.cpp).
#include "net/login.h"

#include "common/messages.h"
#include "core/log.h"
#include "core/settings.h"
#include "net/login_internal.h"
#include "net/resolve.h"
#include "net/universe.h"
#include "platform/dialogs.h"
#include "platform/ui.h"

namespace zk {

namespace {

struct Identity {
    bool present = false;
    std::string name, password;
    uint32_t citizen = 0;
};
Identity g_id;
LoginPorts g_ports;

void about_set_message(const std::string& text) {
    if (g_ports.splash_message) g_ports.splash_message(text);
}
void about_set_waiting(const std::string& text) {
    if (g_ports.splash_waiting) g_ports.splash_waiting(text);
}
AboutButton about_wait(int ms) { return g_ports.splash_wait ? g_ports.splash_wait(ms) : AboutButton::none; }
void about_hide_dialog() {
    if (g_ports.splash_hide) g_ports.splash_hide();
}
void about_hide_cancel() {
    if (g_ports.splash_hide_cancel) g_ports.splash_hide_cancel();
}
int build_check(const std::string& name, const std::string& password) {
    return g_ports.build_check ? g_ports.build_check(name, password) : 0;
}

void trace(const char* name) {
    if (log_on(Trace::trace)) log_write("%s", name);
}

bool hook_identity(std::string* name, std::string* password) {
    if (!g_id.present) return false;
    *name = g_id.name;
    *password = g_id.password;
    return true;
}

void hook_relogged_in(uint32_t citizen) { g_id.citizen = citizen; }

void register_hooks() {
    UniverseHooks& h = universe_hooks();
    h.identity = hook_identity;
    h.relogged_in = hook_relogged_in;
    login_detail::bind_dialog_hooks(h);
}

}  // namespace

namespace login_detail {

const std::string& identity_held_name() { return g_id.name; }

void menu_identity_changed(bool citizen) {
    if (g_ports.identity_changed) g_ports.identity_changed(citizen);
}

}  // namespace login_detail

bool identity_present() { return g_id.present; }
std::string identity_name() { return g_id.present ? g_id.name : std::string(load_message(81)); }
std::string identity_tourist_name() {
    const std::string& n = g_id.name;
    if (n.size() >= 2 && n.front() == '"' && n.back() == '"') return n.substr(1, n.size() - 2);
    return n;
}
const std::string& identity_password() { return g_id.password; }
uint32_t identity_citizen() { return g_id.citizen; }
bool identity_is_tourist() { return g_id.present && !g_id.name.empty() && g_id.name.front() == '"'; }

void identity_set(const std::string& name, const std::string& password, uint32_t citizen) {
    g_id.present = true;
    g_id.name = name;
    g_id.password = password;
    g_id.citizen = citizen;
}

void identity_clear() { g_id = Identity{}; }

LoginPorts& login_ports() { return g_ports; }

int login_init() {
    trace("login_init");
    register_hooks();
    about_set_message(load_message(77));

    // Wait for the universe's address, or for the user to give up on it.
    bool failed_shown = false;
    for (;;) {
        resolve_poll();
        const uint32_t address = universe_address();
        if (address != 0 && address != resolve_failed) break;
        if (address == resolve_failed && !failed_shown) {
            // Say so and let the user choose, rather than vanish.
            about_set_waiting(load_message(18, 1));
            failed_shown = true;
        }
        if (ui_present() && ui().quit_requested()) return 1;
        AboutButton b = about_wait(50);
        if (b == AboutButton::skip) {
            ui().stop_box(product_name(), load_message(79));
            return 0;
        }
        if (b == AboutButton::cancel || b == AboutButton::ok) return 1;
    }

    std::string name = settings_get_string("citizen", "name");
    std::string password = settings_get_string("citizen", "password");
    if (!password.empty()) {
        settings_put_secret("citizen", "pass", password);
        settings_put_string("citizen", "password", "");
    } else {
        password = settings_get_secret("citizen", "pass");
    }

    if (build_check(name, password) != 0) return 2;

    if (name.empty()) {
        about_hide_dialog();
        return tourist();
    }
    int failure = 0;
    if (!password.empty()) {
        about_set_message(load_message(154));
        uint32_t number = 0;
        failure = universe_login(name, password, &number);
        if (failure == 0) {
            about_hide_cancel();
            identity_set(name, password, number);
            login_detail::menu_identity_changed(identity_citizen() != 0);
            return 0;
        }
    }
    about_hide_dialog();
    return login_detail::run_login_dialog(name, password, failure);
}

int login() {
    trace("login");
    register_hooks();
    std::string password = identity_citizen() ? g_id.password : settings_get_secret("citizen", "pass");
    std::string name = identity_citizen() ? g_id.name : settings_get_string("citizen", "name");
    return login_detail::run_login_dialog(name, password, 0);
}

// A tourist may go on to immigrate; a cancelled immigration comes back here.
int tourist() {
    trace("tourist");
    for (;;) {
        int r = login_detail::run_tourist_dialog();
        if (r == kTouristImmigrate) {
            if (immigrate(0) == 0) return 0;
            continue;
        }
        return r == 0 ? 0 : 1;
    }
}

int immigrate(int mode) {
    trace("immigrate");
    register_hooks();
    return login_detail::run_immigration_dialog(mode);
}

}  // namespace zk
