#include "art/http.h"

#include "app/log.h"

namespace zk {

// Not built yet: these keep their final names so the start-up order, the
// task table and the shutdown order already call them.

void proxy_init() {
    if (log_on(Trace::trace)) log_write("proxy_init");
}

bool http_init() {
    if (log_on(Trace::trace)) log_write("http_init");
    return true;
}

void http_update() {}

void http_term() {
    if (log_on(Trace::trace)) log_write("http_term");
}

}  // namespace zk
