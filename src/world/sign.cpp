#include "world/sign.h"

#include "core/log.h"

namespace zk {

// Not built yet: these keep their final names so the start-up order, the
// task table and the shutdown order already call them.

void sign_init() {
    if (log_on(Trace::trace)) log_write("sign_init");
}

void sign_update() {}

}  // namespace zk
