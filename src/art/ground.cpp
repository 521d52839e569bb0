#include "art/ground.h"

#include "core/log.h"

namespace zk {

// Not built yet: these keep their final names so the start-up order, the
// task table and the shutdown order already call them.

void ground_update() {}

void ground_release() {
    if (log_on(Trace::trace)) log_write("ground_release");
}

}  // namespace zk
