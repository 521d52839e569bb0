#include "view/frame.h"

#include "app/log.h"

namespace zk {

// Not built yet: these keep their final names so the start-up order, the
// task table and the shutdown order already call them.

void frame_init() {
    if (log_on(Trace::trace)) log_write("frame_init");
}

void frame_update() {}

void fps_update() {}

void frame_clear_counters() {
    if (log_on(Trace::trace)) log_write("frame_clear_counters");
}

}  // namespace zk
