// The pane splitters.
#pragma once

namespace zk {

void slider_init();
void vslider_init();
int slider_update();
int vslider_update();

}  // namespace zk
