// The texture-frame clock (task "frame") and the frame-rate counter with
// its status pane (task "fps").
#pragma once

#include <cstdint>

namespace zk {

void frame_init();
void frame_update();
void fps_update();
void frame_clear_counters();

// Frames per second over the last ten one-second buckets.
float frame_rate();
// Menu Show > Frame Rate (command 121, F12).
void fps_toggle_display();
bool fps_display_on();

// The same rules on an explicit clock, for the tasks and for tests.
void frame_update_at(uint32_t now);
void fps_update_at(uint32_t now);

}  // namespace zk
