#include "world/behavior.h"

#include "core/log.h"

namespace zk {

// Not built yet: these keep their final names so the start-up order, the
// task table and the shutdown order already call them.

void behavior_update() {}

}  // namespace zk
