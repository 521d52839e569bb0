#include "world/pick.h"

#include "core/log.h"

namespace zk {

// Not built yet: these keep their final names so the start-up order, the
// task table and the shutdown order already call them.

void pick_init() {
    if (log_on(Trace::trace)) log_write("pick_init");
}

void pick_update() {}

void pick_drop_selection() {
    if (log_on(Trace::trace)) log_write("pick_drop_selection");
}

}  // namespace zk
