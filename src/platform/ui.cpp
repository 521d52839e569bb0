#include "platform/ui.h"

#include <cstdio>
#include <cstdlib>

namespace zk {

namespace {
UiPort* g_port = nullptr;
}

void ui_set_port(UiPort* port) { g_port = port; }

bool ui_present() { return g_port != nullptr; }

UiPort& ui() {
    if (!g_port) {
        std::fputs("zelnik: no window-system port set\n", stderr);
        std::abort();
    }
    return *g_port;
}

}  // namespace zk
