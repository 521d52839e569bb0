#include "view/viewport.h"

#include "core/log.h"
#include "view/camera.h"

namespace zk {

namespace {
ViewportHooks g_hooks;
}

ViewportHooks& viewport_hooks() { return g_hooks; }

bool viewport_init() {
    if (log_on(Trace::trace)) log_write("viewport_init");
    // The window itself belongs to the shell, which made it with the main
    // window; drawing reaches it through the render device it installs.
    return true;
}

void viewport_update() {
    // The image shown is still the right one.
    if (!camera_drawing()) return;
    if (camera_half_size()) {
        rw_camera_stretch(camera_half());
        if (g_hooks.draw_deferred_balloons) g_hooks.draw_deferred_balloons();
    } else {
        rw_camera_show(camera_main());
    }
}

void viewport_left_down(int x, int y) {
    if (g_hooks.click) g_hooks.click(x, y);
}

void viewport_right_down(int x, int y) {
    if (g_hooks.focus_main_window) g_hooks.focus_main_window();
    if (g_hooks.mouse_is_mover && g_hooks.mouse_is_mover()) {
        if (g_hooks.mouse_to_picker) g_hooks.mouse_to_picker();
        return;
    }
    if (g_hooks.avatar_menu && g_hooks.avatar_menu(x, y)) return;
    if (g_hooks.pick_at) g_hooks.pick_at(x, y);
}

}  // namespace zk
