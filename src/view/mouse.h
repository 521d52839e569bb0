// The mouse as mover (the cursor hidden at the window's centre, its offset
// steering the user) or as picker (a normal cursor that points at objects).
#pragma once

namespace zk {

constexpr int kCommandMouseMover = 118;

// Starts in picker mode and marks toolbar button 118.
void mouse_init();
void mouse_as_mover();
void mouse_as_picker();
bool mouse_is_mover();
// Mover mode begins (or the window became active again): remember where the
// cursor was, hide it and put it at the centre.
void mouse_activate();
// Mover mode ends (or the window lost activation): cursor back and shown.
void mouse_deactivate();
// This frame's forward and turn input in pixels: the cursor's offset from
// the centre in mover mode (then put back), 0 in picker mode or while the
// main window is not active.
void mouse_mover_input(int* forward, int* turn);
// The cursor in client coordinates; false when unknown.
bool mouse_cursor(int* x, int* y);
void mouse_hourglass_on();
void mouse_hourglass_restore();

}  // namespace zk
