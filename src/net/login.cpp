#include "net/login.h"

#include <cctype>

#include "core/log.h"
#include "core/settings.h"
#include "core/tasks.h"
#include "common/messages.h"
#include "net/resolve.h"
#include "net/universe.h"
#include "platform/dialogs.h"
#include "platform/os.h"
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

void menu_identity_changed(bool citizen) {
    if (g_ports.identity_changed) g_ports.identity_changed(citizen);
}
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

// Replies that arrive while a dialog waits for them.
struct Pending {
    bool password_request = false;  // a forgotten-password request is out
    std::string password_name;
    std::string password_status;    // the reply's text, for the login dialog
    bool attributes_request = false;
    bool attributes_arrived = false;
    int attributes_rc = 0;
    std::string email;
};
Pending g_pending;

void trace(const char* name) {
    if (log_on(Trace::trace)) log_write("%s", name);
}

std::string cut(const std::string& s, size_t n) { return s.size() > n ? s.substr(0, n) : s; }

bool hook_identity(std::string* name, std::string* password) {
    if (!g_id.present) return false;
    *name = g_id.name;
    *password = g_id.password;
    return true;
}

void hook_relogged_in(uint32_t citizen) { g_id.citizen = citizen; }

void hook_password_sent(int rc) {
    if (!g_pending.password_request) return;
    g_pending.password_request = false;
    if (rc == 0)
        g_pending.password_status = load_message(157);
    else if (rc == 3)
        g_pending.password_status = load_message(10, g_pending.password_name.c_str());
    else
        g_pending.password_status = load_message(158, rc);
}

void hook_attributes(int rc, const std::string* email) {
    if (!g_pending.attributes_request) return;
    g_pending.attributes_request = false;
    g_pending.attributes_arrived = true;
    g_pending.attributes_rc = rc;
    g_pending.email = rc == 0 && email ? *email : std::string();
}

void register_hooks() {
    UniverseHooks& h = universe_hooks();
    h.identity = hook_identity;
    h.relogged_in = hook_relogged_in;
    h.password_sent = hook_password_sent;
    h.attributes = hook_attributes;
}

// Replies are handled by the universe task; before the task loop runs (the
// dialogs of start-up), the dialogs poll the connection themselves.
void pump_universe() {
    if (!tasks_loop_running()) universe_update();
}

std::string store_password_failure(int rc) { return rc == 400 ? load_message(163) : load_message(158, rc); }

class LoginDialog : public LoginController {
public:
    LoginDialog(std::string name, std::string password, int failure)
        : name_(std::move(name)), password_(std::move(password)), failure_(failure) {}

    std::string initial_name() override { return name_; }
    std::string initial_password() override { return password_; }
    std::string initial_status() override { return failure_ ? login_failure_text(failure_, name_) : ""; }

    DialogStep ok(const std::string& typed_name, const std::string& typed_password) override {
        const std::string name = cut(typed_name, kNameLimit), password = cut(typed_password, kPasswordLimit);
        uint32_t number = 0;
        int rc = universe_login(name, password, &number);
        if (rc != 0) return {false, 0, login_failure_text(rc, name)};
        // A citizen stored in the settings stays; logging in as another
        // is for this session only.
        if (settings_get_string("citizen", "name").empty()) {
            settings_put_string("citizen", "name", name);
            settings_put_secret("citizen", "pass", password);
        }
        identity_set(name, password, number);
        menu_identity_changed(identity_citizen() != 0);
        return {true, 0, ""};
    }

    DialogStep forgot(const std::string& typed_name) override {
        const std::string name = cut(typed_name, kNameLimit);
        if (name.empty()) return {false, 0, load_message(142)};
        int rc = universe_send_password(name);
        if (rc != 0) return {false, 0, store_password_failure(rc)};
        g_pending.password_request = true;
        g_pending.password_name = name;
        g_pending.password_status.clear();
        return {false, 0, load_message(156)};
    }

    DialogStep tourist() override {
        if (zk::tourist() == 0) return {true, 0, ""};
        return {false, 0, ""};
    }

    std::string poll() override {
        pump_universe();
        std::string s;
        s.swap(g_pending.password_status);
        return s;
    }

private:
    std::string name_, password_;
    int failure_;
};

class TouristDialog : public TouristController {
public:
    std::string initial_name() override {
        std::string name = settings_get_string("citizen", "tourist");
        if (name.empty()) name = cut(os_user_name(), 17);
        return name;
    }
    DialogStep ok(const std::string& typed) override {
        const std::string name = cut(typed, 15);
        if (int msg = login_tourist_name_check(name)) return {false, 0, load_message(msg)};
        settings_put_string("citizen", "tourist", name);
        identity_set("\"" + name + "\"", "", 0);
        menu_identity_changed(identity_citizen() != 0);
        return {true, 0, ""};
    }
};

class ImmigrationDialog : public ImmigrationController {
public:
    explicit ImmigrationDialog(int mode) : mode_(mode) {
        if (mode_ == 1) {
            int rc = universe_get_attributes();
            if (rc != 0) {
                status_ = rc == 400 ? load_message(163) : load_message(137, rc);
            } else {
                status_ = load_message(136);
                g_pending.attributes_request = true;
                g_pending.attributes_arrived = false;
            }
        }
    }
    ~ImmigrationDialog() override { g_pending.attributes_request = false; }

    ImmigrationFields initial_fields() override {
        if (mode_ == 0) return {};
        return {g_id.name, g_id.password, g_id.password, ""};
    }
    std::string information() override {
        return mode_ == 0 ? "Please pick a name and password, and tell us your email address:" : load_message(159);
    }
    std::string initial_status() override { return status_; }
    bool ok_enabled() override { return mode_ == 0; }

    DialogStep ok(const ImmigrationFields& typed) override {
        ImmigrationFields f{cut(typed.name, kNameLimit), cut(typed.password, kPasswordLimit),
                            cut(typed.confirm, kPasswordLimit), cut(typed.email, kEmailLimit)};
        if (f.password != f.confirm) return {false, 0, load_message(153)};
        if (mode_ == 1) {
            int rc = universe_set_attributes(f.name, f.password, f.email);
            if (rc != 0) return {false, 0, immigration_failure_text(rc, 1, f.name)};
            if (settings_get_string("citizen", "name") == g_id.name) {
                settings_put_string("citizen", "name", f.name);
                settings_put_secret("citizen", "pass", f.password);
            }
            identity_set(f.name, f.password, g_id.citizen);
            return {true, 0, ""};
        }
        uint32_t ignored = 0;
        int rc = universe_immigrate(f.name, f.password, f.email, &ignored);
        if (rc != 0) return {false, 0, immigration_failure_text(rc, 0, f.name)};
        settings_put_string("citizen", "name", f.name);
        settings_put_secret("citizen", "pass", f.password);
        // The immigration reply carries no number: logging in brings the
        // real one, which the world servers check.
        uint32_t number = 0;
        if (universe_login(f.name, f.password, &number) != 0) number = 0;
        identity_set(f.name, f.password, number);
        menu_identity_changed(identity_citizen() != 0);
        return {true, 0, ""};
    }

    Update poll() override {
        pump_universe();
        Update u;
        if (!g_pending.attributes_arrived) return u;
        g_pending.attributes_arrived = false;
        u.changed = true;
        switch (g_pending.attributes_rc) {
        case 0:
            u.email = g_pending.email;
            u.ok_enabled = true;
            break;
        case 3: u.status = load_message(10, g_id.name.c_str()); break;
        case 13: u.status = load_message(98); break;
        default: u.status = load_message(137, g_pending.attributes_rc); break;
        }
        return u;
    }

private:
    int mode_;
    std::string status_;
};

int run_login_dialog(const std::string& name, const std::string& password, int failure) {
    LoginDialog dialog(name, password, failure);
    return dialogs().run_login(dialog) == 0 ? 0 : 1;
}

}  // namespace

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

int login_tourist_name_check(const std::string& typed) {
    const std::string name = cut(typed, 15);
    if (name.size() < 2) return 72;
    if (name.front() == ' ') return 69;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != ' ') return 68;
    if (name.find("  ") != std::string::npos) return 69;
    if (name.back() == ' ') return 70;
    return 0;
}

std::string login_failure_text(int rc, const std::string& name) {
    switch (rc) {
    case 0: return "";
    case 13: return load_message(98);
    case 3: return load_message(10, name.c_str());
    case 400: return load_message(163);
    default: return load_message(155, rc);
    }
}

std::string immigration_failure_text(int rc, int mode, const std::string& name) {
    switch (rc) {
    case 100: return load_message(90);
    case 101: return load_message(94);
    case 102: return load_message(91);
    case 103: return load_message(92);
    case 104: return load_message(93);
    case 105: return load_message(59);
    case 106: return load_message(60);
    case 107: return load_message(75, name.c_str());
    case 108: return load_message(68);
    case 109: return load_message(69);
    case 111: return load_message(70);
    case 113: return load_message(72);
    case 116: return load_message(74);
    case 400: return load_message(163);
    default: return mode == 1 ? load_message(139, rc) : load_message(76, rc);
    }
}

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
            menu_identity_changed(identity_citizen() != 0);
            return 0;
        }
    }
    about_hide_dialog();
    return run_login_dialog(name, password, failure);
}

int login() {
    trace("login");
    register_hooks();
    std::string password = identity_citizen() ? g_id.password : settings_get_secret("citizen", "pass");
    std::string name = identity_citizen() ? g_id.name : settings_get_string("citizen", "name");
    return run_login_dialog(name, password, 0);
}

int tourist() {
    trace("tourist");
    for (;;) {
        TouristDialog dialog;
        int r = dialogs().run_tourist(dialog);
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
    ImmigrationDialog dialog(mode);
    return dialogs().run_immigration(dialog) == 0 ? 0 : 1;
}

}  // namespace zk
