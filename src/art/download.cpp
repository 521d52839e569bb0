#include "art/download.h"

#include "core/log.h"

namespace zk {

// Not built yet: these keep their final names so the start-up order, the
// task table and the shutdown order already call them.

bool download_init() {
    if (log_on(Trace::trace)) log_write("download_init");
    return true;
}

void dloptions_init() {
    if (log_on(Trace::trace)) log_write("dloptions_init");
}

void download_update() {}

void download_reset() {
    if (log_on(Trace::trace)) log_write("download_reset");
}

void download_term() {
    if (log_on(Trace::trace)) log_write("download_term");
}

}  // namespace zk
