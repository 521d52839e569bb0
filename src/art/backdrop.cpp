#include "art/backdrop.h"

#include "core/log.h"

namespace zk {

// Not built yet: these keep their final names so the start-up order, the
// task table and the shutdown order already call them.

void backdrop_update() {}

void backdrop_clear() {
    if (log_on(Trace::trace)) log_write("backdrop_clear");
}

}  // namespace zk
