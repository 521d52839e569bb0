// Frame rate.
#pragma once

namespace zk {

void frame_init();
void frame_update();
void fps_update();
void frame_clear_counters();

}  // namespace zk
