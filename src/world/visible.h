// The visibility manager.
#pragma once

namespace zk {

void visible_init();
void visible_update();
void visible_reset();

}  // namespace zk
