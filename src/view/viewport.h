// The viewport: the window that shows the camera's image and passes mouse
// clicks on to the modules that act on them.
#pragma once

namespace zk {

bool viewport_init();
// Shows the main camera's image, or stretches the half camera's over the
// whole view in half-size mode and then draws the deferred balloons.
void viewport_update();

// What the viewport's clicks lead to; each is filled by its module and
// may stay empty.
struct ViewportHooks {
    void (*click)(int x, int y) = nullptr;           // object click activation
    void (*focus_main_window)() = nullptr;
    bool (*mouse_is_mover)() = nullptr;
    void (*mouse_to_picker)() = nullptr;
    bool (*avatar_menu)(int x, int y) = nullptr;      // true when a menu was shown
    void (*pick_at)(int x, int y) = nullptr;          // building selection
    void (*draw_deferred_balloons)() = nullptr;
};
ViewportHooks& viewport_hooks();

void viewport_left_down(int x, int y);
void viewport_right_down(int x, int y);

}  // namespace zk
