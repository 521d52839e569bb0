#include "net/cgi.h"

#include "app/log.h"

namespace zk {

// Not built yet: these keep their final names so the start-up order, the
// task table and the shutdown order already call them.

void cgi_init(const std::string& command_line) {
    if (log_on(Trace::trace)) log_write("cgi_init (%s)", command_line.c_str());
}

void cgi_register_window() {
    if (log_on(Trace::trace)) log_write("cgi_register_window");
}

void cgi_update() {}

void cgi_term() {
    if (log_on(Trace::trace)) log_write("cgi_term");
}

void cgi_hand_in(const std::string& command_line) {
    if (log_on(Trace::trace)) log_write("cgi_hand_in (%s)", command_line.c_str());
}

}  // namespace zk
