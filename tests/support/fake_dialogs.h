// A scripted dialog port: each modal dialog runs a script the test gives,
// which presses the controller's buttons; the splash answers queued buttons.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/dialogs.h"

namespace zk::test {

class FakeDialogs : public DialogPort {
public:
    std::vector<AboutView> about_views;
    std::deque<AboutButton> about_buttons;  // answered by about_wait, one each
    // The answer to a prompt that waits for the user once the queue is empty.
    AboutButton when_waiting = AboutButton::cancel;
    bool about_visible = false;
    std::function<int(LoginController&)> login_script;
    std::function<int(TouristController&)> tourist_script;
    std::function<int(ImmigrationController&)> immigration_script;
    std::function<void(ContactController&)> contact_script;
    std::function<void(TeleportController&)> teleport_script;
    std::function<void(RememberController&)> remember_script;
    std::function<void(LocationsController&)> locations_script;
    std::vector<std::pair<std::string, std::string>> telegrams;
    int logins = 0, tourists = 0, immigrations = 0;

    void about_show(const AboutView& view) override {
        about_views.push_back(view);
        about_visible = true;
    }
    void about_hide() override { about_visible = false; }
    AboutButton about_wait(int) override {
        if (!about_buttons.empty()) {
            AboutButton b = about_buttons.front();
            about_buttons.pop_front();
            return b;
        }
        // Nothing scripted: a prompt that waits for the user is cancelled
        // rather than waited on for ever.
        return !about_views.empty() && about_views.back().waiting_for_user ? when_waiting : AboutButton::none;
    }
    int run_login(LoginController& c) override {
        ++logins;
        return login_script ? login_script(c) : 1;
    }
    int run_tourist(TouristController& c) override {
        ++tourists;
        return tourist_script ? tourist_script(c) : 1;
    }
    int run_immigration(ImmigrationController& c) override {
        ++immigrations;
        return immigration_script ? immigration_script(c) : 1;
    }
    void run_contact(ContactController& c) override {
        if (contact_script) contact_script(c);
    }
    void run_teleport(TeleportController& c) override {
        if (teleport_script) teleport_script(c);
    }
    void run_remember(RememberController& c) override {
        if (remember_script) remember_script(c);
    }
    void run_locations(LocationsController& c) override {
        if (locations_script) locations_script(c);
    }
    void show_telegram(const std::string& from, const std::string& text) override { telegrams.push_back({from, text}); }
};

// Installs a FakeDialogs for the life of the object.
class ScopedFakeDialogs {
public:
    ScopedFakeDialogs() { dialogs_set_port(&fake); }
    ~ScopedFakeDialogs() { dialogs_set_port(nullptr); }
    FakeDialogs fake;
};

}  // namespace zk::test
