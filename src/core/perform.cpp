#include "core/perform.h"

#include "core/log.h"
#include "platform/os.h"

namespace zk {

namespace {
int g_default = 1;
}

int perform_check(uint64_t physical_bytes) {
    // An unknown size (0) is not held against the machine.
    if (physical_bytes != 0 && physical_bytes < 0x600000u) return 100;
    return 0;
}

int perform_builtin_default(uint64_t physical_bytes) {
    return physical_bytes != 0 && physical_bytes < 0xF00000u ? 0 : 1;
}

int perform_init() {
    if (log_on(Trace::trace)) log_write("perform_init");
    const uint64_t bytes = os_physical_memory();
    g_default = perform_builtin_default(bytes);
    return perform_check(bytes);
}

int perform_default_avatars() { return g_default; }

}  // namespace zk
