#include "core/log.h"

#include <cstdarg>
#include <cstdio>

#include "core/settings.h"
#include "platform/os.h"

namespace zk {

namespace {

bool g_switch[static_cast<int>(Trace::count)];
FILE* g_file = nullptr;

constexpr const char* kSwitchNames[] = {"trace", "tasks",   "database", "sound", "disk",
                                        "download", "visible", "texture", "chunk", "universe"};
static_assert(sizeof kSwitchNames / sizeof *kSwitchNames == static_cast<int>(Trace::count));

}  // namespace

void log_init() {
    const bool all = settings_get_int("debug", "all") == 1;
    for (int i = 0; i < static_cast<int>(Trace::count); ++i)
        g_switch[i] = all || settings_get_int("debug", kSwitchNames[i]) == 1;
}

bool log_on(Trace category) { return g_switch[static_cast<int>(category)]; }

void log_write(const char* format, ...) {
    char message[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    if (!g_file) {
        g_file = std::fopen("zelnik.log", "w");
        if (!g_file) return;
    }
    std::fprintf(g_file, "%5d: %s\n", static_cast<int>(os_tick_count()), message);
    std::fflush(g_file);
}

void log_close() {
    if (g_file) std::fclose(g_file);
    g_file = nullptr;
}

}  // namespace zk
