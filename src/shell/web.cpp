#include "shell/web.h"

#include "core/log.h"

namespace zk {

// Not built yet: these keep their final names so the start-up order, the
// task table and the shutdown order already call them.

void web_init() {
    if (log_on(Trace::trace)) log_write("web_init");
}

void web_update() {}

void web_term() {
    if (log_on(Trace::trace)) log_write("web_term");
}

}  // namespace zk
