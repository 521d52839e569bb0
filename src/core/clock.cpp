#include "core/tasks.h"
#include "platform/os.h"

namespace zk {

namespace {
uint32_t g_tick = 0;
bool g_loop_running = false;
}

uint32_t tick_now() { return g_tick; }

void tick_read() { g_tick = os_tick_count(); }

bool tasks_loop_running() { return g_loop_running; }

void tasks_set_loop_running(bool running) { g_loop_running = running; }

}  // namespace zk
