// The login, tourist and immigration dialogs' controllers and their plain
// decisions. The sign-in flow that opens them is in login.cpp.
#include "net/login.h"

#include <cctype>

#include "common/messages.h"
#include "core/settings.h"
#include "core/tasks.h"
#include "net/login_internal.h"
#include "net/universe.h"
#include "platform/dialogs.h"
#include "platform/os.h"

namespace zk {

namespace {

using login_detail::identity_held_name;
using login_detail::menu_identity_changed;

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

std::string cut(const std::string& s, size_t n) { return s.size() > n ? s.substr(0, n) : s; }

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
        return {identity_held_name(), identity_password(), identity_password(), ""};
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
            if (settings_get_string("citizen", "name") == identity_held_name()) {
                settings_put_string("citizen", "name", f.name);
                settings_put_secret("citizen", "pass", f.password);
            }
            identity_set(f.name, f.password, identity_citizen());
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
        case 3: u.status = load_message(10, identity_held_name().c_str()); break;
        case 13: u.status = load_message(98); break;
        default: u.status = load_message(137, g_pending.attributes_rc); break;
        }
        return u;
    }

private:
    int mode_;
    std::string status_;
};

}  // namespace

namespace login_detail {

void bind_dialog_hooks(UniverseHooks& hooks) {
    hooks.password_sent = hook_password_sent;
    hooks.attributes = hook_attributes;
}

int run_login_dialog(const std::string& name, const std::string& password, int failure) {
    LoginDialog dialog(name, password, failure);
    return dialogs().run_login(dialog) == 0 ? 0 : 1;
}

int run_tourist_dialog() {
    TouristDialog dialog;
    return dialogs().run_tourist(dialog);
}

int run_immigration_dialog(int mode) {
    ImmigrationDialog dialog(mode);
    return dialogs().run_immigration(dialog) == 0 ? 0 : 1;
}

}  // namespace login_detail

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

}  // namespace zk
