// The physical-memory check at start-up.
#pragma once

#include <cstdint>

namespace zk {

// 0 when the memory is enough, else the message number that stops start-up.
int perform_check(uint64_t physical_bytes);
// Built-in default of [performance] avatars and lifeforms: 0 on small
// machines, else 1.
int perform_builtin_default(uint64_t physical_bytes);

// Runs the check on this machine; answers 0 or the stopping message number.
int perform_init();
int perform_default_avatars();

}  // namespace zk
