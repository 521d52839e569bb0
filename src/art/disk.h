// The disk usage limit.
#pragma once

namespace zk {

void disk_init();
void disk_update();

}  // namespace zk
