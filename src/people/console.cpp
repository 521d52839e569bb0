#include "people/console.h"

#include "core/log.h"

#include <cstdio>

namespace zk {

// Not built yet: these keep their final names so the start-up order, the
// task table and the shutdown order already call them.

bool console_init() {
    if (log_on(Trace::trace)) log_write("console_init");
    return true;
}

void console_term() {
    if (log_on(Trace::trace)) log_write("console_term");
}

// Until the console window exists, system messages go to standard error,
// where a user starting the program from a terminal still sees them.
namespace {
std::vector<std::string> g_recent;
}

const std::vector<std::string>& console_recent() { return g_recent; }

void console_system(const std::string& speaker, const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", speaker.c_str(), text.c_str());
    if (g_recent.size() >= 100) g_recent.erase(g_recent.begin());
    g_recent.push_back(speaker + ": " + text);
    if (log_on(Trace::trace)) log_write("console: %s: %s", speaker.c_str(), text.c_str());
}

}  // namespace zk
