#include "view/camera.h"

#include "app/log.h"

namespace zk {

// Not built yet: these keep their final names so the start-up order, the
// task table and the shutdown order already call them.

int camera_init() {
    if (log_on(Trace::trace)) log_write("camera_init");
    return 0;
}

void camera_update() {}

void camera_begin_update() {}

void camera_end_update() {}

}  // namespace zk
