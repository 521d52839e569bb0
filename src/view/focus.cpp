#include "view/focus.h"

#include <algorithm>

#include "core/log.h"
#include "core/tasks.h"
#include "view/camera.h"
#include "view/mouse.h"
#include "world/cell.h"

namespace zk {

namespace {

FocusHooks g_hooks;
FocusTip g_tip;
int g_last_x = -1, g_last_y = -1;
bool g_have_point = false;
const object* g_object = nullptr;
uint32_t g_since = 0;
bool g_corner_fixed = false;

// A rough extent when no text measurer is wired in: 6 x 13 pixel cells.
void estimate(const std::string& text, int max_width, int* width, int* height) {
    const int per_line = std::max(1, max_width / 6);
    const int chars = static_cast<int>(std::min<size_t>(text.size(), 4096));
    const int lines = std::max(1, (chars + per_line - 1) / per_line);
    *width = std::min(max_width, chars * 6);
    *height = lines * 13;
}

void place(int cursor_x, int cursor_y) {
    int w = 0, h = 0;
    (g_hooks.measure ? g_hooks.measure : estimate)(g_tip.text, focus_tip_max_width, &w, &h);
    g_tip.width = std::min(w, focus_tip_max_width);
    g_tip.height = h;
    if (!g_corner_fixed) {
        g_tip.left = cursor_x + 10;
        g_tip.top = cursor_y + 10;
        g_corner_fixed = true;
    }
    int vw = 0, vh = 0;
    if (g_hooks.view_size) g_hooks.view_size(&vw, &vh);
    else if (const RwCamera* c = camera_main()) vw = c->viewport.width, vh = c->viewport.height;
    // Moved left or up to stay inside the view (the box reaches 3 pixels
    // right of the text and 1 below it).
    if (vw > 0 && g_tip.left + g_tip.width + 3 > vw) g_tip.left = std::max(4, vw - g_tip.width - 3);
    if (vh > 0 && g_tip.top + g_tip.height + 1 > vh) g_tip.top = std::max(0, vh - g_tip.height - 1);
}

}  // namespace

FocusHooks& focus_hooks() { return g_hooks; }
const FocusTip& focus_tip() { return g_tip; }

void focus_drop() {
    g_tip = FocusTip{};
    g_object = nullptr;
    g_corner_fixed = false;
}

bool focus_init() {
    if (log_on(Trace::trace)) log_write("focus_init");
    focus_drop();
    g_have_point = false;
    return true;
}

void focus_update() { focus_step(tick_now()); }

void focus_step(uint32_t now) {
    if (g_hooks.editing && g_hooks.editing()) {
        focus_drop();
        return;
    }
    if (mouse_is_mover() || camera_catching_up()) return;
    int x = 0, y = 0;
    if (!mouse_cursor(&x, &y)) return;
    const bool moved = !g_have_point || x != g_last_x || y != g_last_y;
    g_last_x = x, g_last_y = y;
    g_have_point = true;
    if (g_object || moved) {
        object* o = g_hooks.pick ? g_hooks.pick(x, y) : nullptr;
        if (!o || o->description.empty()) {
            focus_drop();
            return;
        }
        if (o != g_object) {
            focus_drop();
            g_object = o;
            g_tip.text = o->description;
            g_since = now;
            return;
        }
    }
    if (!g_object || now - g_since <= focus_tip_delay) return;
    place(x, y);
    g_tip.shown = true;
    if (g_hooks.draw) g_hooks.draw(g_tip);
}

}  // namespace zk
