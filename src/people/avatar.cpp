#include "people/avatar.h"

#include "core/log.h"

namespace zk {

// Not built yet: these keep their final names so the start-up order, the
// task table and the shutdown order already call them.

int avatar_init() {
    if (log_on(Trace::trace)) log_write("avatar_init");
    return 0;
}

void avatar_update() {}

void avatar_drop_all() {
    if (log_on(Trace::trace)) log_write("avatar_drop_all");
}

void avatar_reload_list() {
    if (log_on(Trace::trace)) log_write("avatar_reload_list");
}

void avatar_term() {
    if (log_on(Trace::trace)) log_write("avatar_term");
}

}  // namespace zk
