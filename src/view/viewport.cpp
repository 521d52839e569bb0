#include "view/viewport.h"

#include "app/log.h"

namespace zk {

// Not built yet: these keep their final names so the start-up order, the
// task table and the shutdown order already call them.

bool viewport_init() {
    if (log_on(Trace::trace)) log_write("viewport_init");
    return true;
}

void viewport_update() {}

}  // namespace zk
