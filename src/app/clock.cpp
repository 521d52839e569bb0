#include "app/tasks.h"
#include "platform/os.h"

namespace zk {

namespace {
uint32_t g_tick = 0;
}

uint32_t tick_now() { return g_tick; }

void tick_read() { g_tick = os_tick_count(); }

}  // namespace zk
