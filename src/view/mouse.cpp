#include "view/mouse.h"

#include "core/log.h"
#include "platform/ui.h"
#include "view/viewport.h"

namespace zk {

namespace {

int g_mode = 0;  // 0 picker, 1 mover
bool g_active = false;
int g_saved_x = 0, g_saved_y = 0;
bool g_saved = false;
int g_centre_x = 0, g_centre_y = 0;

void find_centre() {
    WindowRect r;
    if (ui_present() && ui().main_window_geometry(r)) g_centre_x = r.width / 2, g_centre_y = r.height / 2;
}

}  // namespace

void mouse_init() {
    if (log_on(Trace::trace)) log_write("mouse_init");
    g_mode = 0;
    g_active = false;
    if (ui_present()) ui().toolbar_press(kCommandMouseMover, false);
}

void mouse_as_mover() {
    if (g_mode == 1) return;
    g_mode = 1;
    if (ui_present()) ui().toolbar_press(kCommandMouseMover, true);
    mouse_activate();
}

void mouse_as_picker() {
    if (g_mode == 1) mouse_deactivate();
    g_mode = 0;
    if (ui_present()) ui().toolbar_press(kCommandMouseMover, false);
}

bool mouse_is_mover() { return g_mode == 1; }

void mouse_activate() {
    if (g_mode != 1 || g_active || !ui_present()) return;
    g_saved = ui().cursor_position(&g_saved_x, &g_saved_y);
    find_centre();
    ui().cursor_hide(true);
    ui().cursor_move(g_centre_x, g_centre_y);
    g_active = true;
}

void mouse_deactivate() {
    if (!g_active || !ui_present()) {
        g_active = false;
        return;
    }
    if (g_saved) ui().cursor_move(g_saved_x, g_saved_y);
    ui().cursor_hide(false);
    g_active = false;
}

void mouse_mover_input(int* forward, int* turn) {
    *forward = *turn = 0;
    if (g_mode != 1 || !ui_present() || !ui().main_window_active()) return;
    if (!g_active) mouse_activate();
    find_centre();
    int x, y;
    if (!ui().cursor_position(&x, &y)) return;
    *forward = g_centre_y - y;
    *turn = g_centre_x - x;
    ui().cursor_move(g_centre_x, g_centre_y);
}

bool mouse_cursor(int* x, int* y) { return ui_present() && ui().cursor_position(x, y); }

void mouse_hourglass_on() {
    if (ui_present()) ui().cursor_busy(true);
}

void mouse_hourglass_restore() {
    if (ui_present()) ui().cursor_busy(false);
}

}  // namespace zk
