// Picking and editing objects.
#pragma once

namespace zk {

void pick_init();
void pick_update();
void pick_drop_selection();

}  // namespace zk
