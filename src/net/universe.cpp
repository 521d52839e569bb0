#include "net/universe.h"

#include "app/log.h"

namespace zk {

// Not built yet: these keep their final names so the start-up order, the
// task table and the shutdown order already call them.

int universe_init() {
    if (log_on(Trace::trace)) log_write("universe_init");
    return 0;
}

void universe_update() {}

void universe_term() {
    if (log_on(Trace::trace)) log_write("universe_term");
}

}  // namespace zk
