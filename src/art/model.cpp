#include "art/model.h"

#include "app/log.h"

namespace zk {

// Not built yet: these keep their final names so the start-up order, the
// task table and the shutdown order already call them.

bool model_init() {
    if (log_on(Trace::trace)) log_write("model_init");
    return true;
}

void advanced_init() {
    if (log_on(Trace::trace)) log_write("advanced_init");
}

void model_empty_cache() {
    if (log_on(Trace::trace)) log_write("model_empty_cache");
}

}  // namespace zk
