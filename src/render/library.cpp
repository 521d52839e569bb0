#include "render/library.h"

#include <cstring>

namespace zk {

namespace {
bool g_open = false;
int g_error = render_ok;
}  // namespace

bool render_open(const char* device) {
    if (g_open) return true;
    if (!device || std::strcmp(device, "MSWindows") != 0) {
        g_error = render_error_bad_device;
        return false;
    }
    g_open = true;
    g_error = render_ok;
    return true;
}

void render_close() { g_open = false; }

bool render_is_open() { return g_open; }

int render_last_error() { return g_error; }

void render_set_error(int error) { g_error = error; }

}  // namespace zk
