#include "core/message.h"

#include <cstdarg>
#include <cstdio>

#include "core/tasks.h"
#include "common/messages.h"
#include "platform/ui.h"

namespace zk {

namespace {
bool g_fatal_box = false;
}

void tasks_set_fatal_box(bool up) { g_fatal_box = up; }

bool tasks_fatal_box() { return g_fatal_box; }

void message_box(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    tasks_set_fatal_box(true);
    ui().stop_box(product_name(), text);
    tasks_set_fatal_box(false);
}

}  // namespace zk
