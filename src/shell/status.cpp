#include "shell/status.h"

#include "core/log.h"

namespace zk {

// Not built yet: these keep their final names so the start-up order, the
// task table and the shutdown order already call them.

void status_init() {
    if (log_on(Trace::trace)) log_write("status_init");
}

}  // namespace zk
