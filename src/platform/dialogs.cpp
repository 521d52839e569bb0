#include "platform/dialogs.h"

#include <cstdio>
#include <cstdlib>

namespace zk {

namespace {
DialogPort* g_port = nullptr;
}

void dialogs_set_port(DialogPort* port) { g_port = port; }
bool dialogs_present() { return g_port != nullptr; }

DialogPort& dialogs() {
    if (!g_port) {
        std::fputs("zelnik: no dialog port set\n", stderr);
        std::abort();
    }
    return *g_port;
}

}  // namespace zk
