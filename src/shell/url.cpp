#include "shell/url.h"

#include "core/log.h"

namespace zk {

// Not built yet: these keep their final names so the start-up order, the
// task table and the shutdown order already call them.

void url_init(const std::string&) {
    if (log_on(Trace::trace)) log_write("url_init");
}

void url_term() {
    if (log_on(Trace::trace)) log_write("url_term");
}

}  // namespace zk
