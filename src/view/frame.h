// The texture-frame clock (task "frame") and the frame-rate counter with
// its status pane (task "fps").
#pragma once

#include <cstdint>

namespace zk {

void frame_init();
void frame_update();
void fps_update();
void frame_clear_counters();

// The frames a second the view sustains while it is drawn: the drawn
// frames of the last ten seconds in which frames were drawn, over the time
// from the pass before each to the pass that drew it (work, presentation
// and the wait for the screen's refresh). Passes that draw nothing because
// the view did not change leave it alone; 0 until a frame was drawn.
float frame_rate();
// Menu Show > Frame Rate (command 121, F12).
void fps_toggle_display();
bool fps_display_on();

// The same rules on an explicit clock, for the tasks and for tests.
void frame_update_at(uint32_t now);
void fps_update_at(uint32_t now, bool drew);

}  // namespace zk
