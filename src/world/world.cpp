#include "world/world.h"

#include "app/log.h"

namespace zk {

// Not built yet: these keep their final names so the start-up order, the
// task table and the shutdown order already call them.

bool world_init() {
    if (log_on(Trace::trace)) log_write("world_init");
    return true;
}

int world_enter(const std::string&, int) {
    return 0;
}

void world_term() {
    if (log_on(Trace::trace)) log_write("world_term");
}

}  // namespace zk
