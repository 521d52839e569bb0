#include "world/pdialog.h"

#include "core/log.h"

namespace zk {

// Not built yet: these keep their final names so the start-up order, the
// task table and the shutdown order already call them.

void pdialog_init() {
    if (log_on(Trace::trace)) log_write("pdialog_init");
}

}  // namespace zk
