#include "upgrade/about.h"

#include "app/log.h"

namespace zk {

// Not built yet: these keep their final names so the start-up order, the
// task table and the shutdown order already call them.

int about_init() {
    if (log_on(Trace::trace)) log_write("about_init");
    return 0;
}

void about_hide() {
    if (log_on(Trace::trace)) log_write("about_hide");
}

}  // namespace zk
