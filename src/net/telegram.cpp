#include "net/telegram.h"

#include "core/log.h"
#include "core/tasks.h"
#include "common/messages.h"
#include "net/login.h"
#include "net/universe.h"

namespace zk {

namespace {

struct State {
    bool waiting = false;
    bool dialog_open = false;
    bool pending = false;  // a telegram waits for its recipient's number
    std::string text;
    std::string status;    // what the open dialog should show next
};
State g;
void (*g_menu_set_enabled)(int, bool) = nullptr;

void menu_set_enabled(int command, bool enabled) {
    if (g_menu_set_enabled) g_menu_set_enabled(command, enabled);
}

std::string failure(int rc) { return rc == 400 ? load_message(163) : load_message(58, rc); }

void hook_waiting() {
    g.waiting = true;
    menu_set_enabled(kCommandReadTelegram, true);
}

void hook_number(int rc, const std::string&, uint32_t number) {
    if (!g.dialog_open || !g.pending) return;
    g.pending = false;
    if (rc != 0) {
        g.status = failure(rc);
        return;
    }
    int sent = universe_send_telegram(number, g.text);
    g.status = sent != 0 ? failure(sent) : std::string();
}

void hook_telegram(uint32_t, const std::string& from, const std::string& text, uint8_t) {
    if (dialogs_present()) dialogs().show_telegram(from, text);
}

}  // namespace

void telegram_init() {
    if (log_on(Trace::trace)) log_write("telegram_init");
    UniverseHooks& h = universe_hooks();
    h.telegram_waiting = hook_waiting;
    h.citizen_number = hook_number;
    h.telegram = hook_telegram;
}

void telegram_update() {}

void telegram_set_menu_port(void (*set_enabled)(int command, bool enabled)) { g_menu_set_enabled = set_enabled; }

bool telegram_waiting() { return g.waiting; }

void telegram_read() {
    if (log_on(Trace::trace)) log_write("telegram_read");
    universe_get_telegram();
    g.waiting = false;
    menu_set_enabled(kCommandReadTelegram, false);
}

ContactDialog::ContactDialog() {
    g.dialog_open = true;
    g.pending = false;
    g.status.clear();
}

ContactDialog::~ContactDialog() {
    g.dialog_open = false;
    g.pending = false;
}

DialogStep ContactDialog::send(const std::string& name, const std::string& text) {
    const std::string n = name.substr(0, kNameLimit);
    int rc = universe_get_citizen_number(n);
    if (rc != 0) return {false, 0, failure(rc)};
    g.pending = true;
    g.text = text.substr(0, kTelegramLimit);
    return {false, 0, ""};
}

std::string ContactDialog::poll() {
    if (!tasks_loop_running()) universe_update();
    std::string s;
    s.swap(g.status);
    return s;
}

void telegram_contact() {
    ContactDialog dialog;
    dialogs().run_contact(dialog);
}

}  // namespace zk
