#include "view/mouse.h"

#include "app/log.h"

namespace zk {

// Not built yet: these keep their final names so the start-up order, the
// task table and the shutdown order already call them.

void mouse_init() {
    if (log_on(Trace::trace)) log_write("mouse_init");
}

void mouse_activate() {}

void mouse_deactivate() {}

}  // namespace zk
