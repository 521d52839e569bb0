// The visibility manager.
#pragma once

namespace zk {

void visible_init();
void visible_update();
void visible_reset();
// A cell's content changed: it is built again from the cache.
void visible_cell_changed(int x, int z);

}  // namespace zk
