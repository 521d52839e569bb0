#include "shell/slider.h"

#include "core/log.h"

namespace zk {

// Not built yet: these keep their final names so the start-up order, the
// task table and the shutdown order already call them.

void slider_init() {
    if (log_on(Trace::trace)) log_write("slider_init");
}

void vslider_init() {
    if (log_on(Trace::trace)) log_write("vslider_init");
}

int slider_update() {
    return 0;
}

int vslider_update() {
    return 0;
}

}  // namespace zk
