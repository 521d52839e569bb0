#include "art/image.h"

#include "core/log.h"

namespace zk {

// Not built yet: these keep their final names so the start-up order, the
// task table and the shutdown order already call them.

void image_update() {}

void image_reset() {
    if (log_on(Trace::trace)) log_write("image_reset");
}

void image_term() {
    if (log_on(Trace::trace)) log_write("image_term");
}

}  // namespace zk
