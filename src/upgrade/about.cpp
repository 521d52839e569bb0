#include "upgrade/about.h"

#include "core/log.h"
#include "common/messages.h"
#include "net/login.h"
#include "net/resolve.h"
#include "net/universe.h"
#include "platform/dialogs.h"

namespace zk {

namespace {

AboutView g_view;
bool g_visible = false;

void show() {
    g_visible = true;
    if (dialogs_present()) dialogs().about_show(g_view);
}

}  // namespace

int about_init() {
    if (log_on(Trace::trace)) log_write("about_init");
    g_view = {};
    g_view.title = load_message(44, product_name());
    g_view.version = load_message(43, product_name(), kBrowserVersion);
    g_view.build = load_message(56, static_cast<int>(browser_build));
    about_show(1);
    return 0;
}

void about_show(int splash) {
    g_view.ok = !splash;
    g_view.skip = g_view.cancel = splash != 0;
    if (!splash) {
        const uint32_t address = universe_address();
        if (address == 0 || address == resolve_failed)
            g_view.message = load_message(57);
        else if (identity_citizen() != 0)
            g_view.message = load_message(97, static_cast<int>(identity_citizen()));
        else if (identity_present())
            g_view.message = load_message(99, identity_tourist_name().c_str());
        else
            g_view.message = load_message(57);
    }
    show();
}

void about_hide_dialog() {
    g_visible = false;
    g_view.waiting_for_user = false;
    if (dialogs_present()) dialogs().about_hide();
}

void about_hide() {
    if (log_on(Trace::trace)) log_write("about_hide");
    about_hide_dialog();
}

void about_hide_cancel() {
    g_view.skip = g_view.cancel = false;
    if (g_visible) show();
}

void about_set_message(const std::string& text) {
    g_view.message = text;
    g_view.waiting_for_user = false;
    if (g_visible) show();
}

void about_set_waiting(const std::string& text) {
    g_view.message = text;
    g_view.waiting_for_user = true;
    show();
}

void about_should_upgrade() {
    g_view.message = load_message(49, product_name());
    g_view.ok = g_view.skip = g_view.cancel = true;
    g_view.waiting_for_user = true;
    show();
}

void about_must_upgrade() {
    g_view.message = load_message(48, product_name());
    g_view.ok = g_view.cancel = true;
    g_view.skip = false;
    g_view.waiting_for_user = true;
    show();
}

AboutButton about_wait(int ms) {
    // Without a window system nobody can answer a prompt.
    if (!dialogs_present()) return g_view.waiting_for_user ? AboutButton::cancel : AboutButton::none;
    AboutButton pressed = dialogs().about_wait(ms);
    if (pressed != AboutButton::none) about_hide_dialog();
    return pressed;
}

const AboutView& about_view() { return g_view; }
bool about_visible() { return g_visible; }

}  // namespace zk
