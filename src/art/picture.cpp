#include "art/picture.h"

#include "core/log.h"

namespace zk {

// Not built yet: these keep their final names so the start-up order, the
// task table and the shutdown order already call them.

void picture_init() {
    if (log_on(Trace::trace)) log_write("picture_init");
}

void picture_update() {}

void picture_reset() {
    if (log_on(Trace::trace)) log_write("picture_reset");
}

}  // namespace zk
