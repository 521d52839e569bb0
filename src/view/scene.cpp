#include "view/scene.h"

#include "app/log.h"

namespace zk {

// Not built yet: these keep their final names so the start-up order, the
// task table and the shutdown order already call them.

bool scene_init() {
    if (log_on(Trace::trace)) log_write("scene_init");
    return true;
}

void scene_update() {}

void scene_term() {
    if (log_on(Trace::trace)) log_write("scene_term");
}

}  // namespace zk
