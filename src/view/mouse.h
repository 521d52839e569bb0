// The mouse as mover or picker.
#pragma once

namespace zk {

void mouse_init();
void mouse_activate();
void mouse_deactivate();

}  // namespace zk
