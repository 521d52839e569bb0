#include "shell/menu.h"

#include "core/log.h"
#include "platform/ui.h"

namespace zk {

// Not built yet: these keep their final names so the start-up order, the
// task table and the shutdown order already call them.

void menu_init() {
    if (log_on(Trace::trace)) log_write("menu_init");
}

void menu_term() {
    if (log_on(Trace::trace)) log_write("menu_term");
}

void menu_identity_changed(bool citizen) {
    // Only a citizen has attributes to change.
    menu_set_enabled(kCommandChangeAttributes, citizen);
}

void menu_set_enabled(int command, bool enabled) {
    if (!ui_present()) return;
    ui().menu_enable(command, enabled);
    ui().toolbar_enable(command, enabled);
}

}  // namespace zk
