#include "core/layout.h"

#include "core/settings.h"

namespace zk {

WindowPlacement layout_placement(int main_x, int main_y, int main_width, int main_height,
                                 int screen_width, int screen_height) {
    WindowPlacement p;
    p.height = main_height == -1 ? 400 : (main_height < kMinWindowHeight ? kMinWindowHeight : main_height);
    p.width = main_width == -1 ? 480 : (main_width < kMinWindowWidth ? kMinWindowWidth : main_width);
    p.default_position = main_x == -1 || main_y == -1 || main_x >= screen_width || main_y >= screen_height;
    if (!p.default_position) {
        // Entirely left of or above the screen: nobody could reach it.
        if (static_cast<long>(main_x) + p.width < 0 || static_cast<long>(main_y) + p.height < 0)
            p.default_position = true;
    }
    if (!p.default_position) {
        p.x = main_x;
        p.y = main_y;
    }
    return p;
}

WindowPlacement layout_initial_placement(int screen_width, int screen_height) {
    return layout_placement(settings_get_int("layout", "main_x"), settings_get_int("layout", "main_y"),
                            settings_get_int("layout", "main_width"),
                            settings_get_int("layout", "main_height"), screen_width, screen_height);
}

TrackLimits layout_track_limits(int screen_width, int screen_height) {
    return {kMinWindowWidth, kMinWindowHeight, screen_width + 8, screen_height + 8};
}

namespace {

// Values not yet written, and when the last write was.
struct Held {
    bool position = false, size = false, maximized = false;
    int x = 0, y = 0, width = 0, height = 0, max = 0;
    bool wrote = false;  // since the last flush
    uint32_t last = 0;
};
Held g_held;

bool held() { return g_held.position || g_held.size || g_held.maximized; }

void write_held() {
    Held& h = g_held;
    if (h.position) {
        settings_put_int("layout", "main_x", h.x);
        settings_put_int("layout", "main_y", h.y);
    }
    if (h.size) {
        settings_put_int("layout", "main_height", h.height);
        settings_put_int("layout", "main_width", h.width);
    }
    if (h.maximized) settings_put_int("layout", "maximized", h.max);
    h.position = h.size = h.maximized = false;
}

}  // namespace

int layout_pending_ms(uint32_t now) {
    if (!held()) return -1;
    if (!g_held.wrote) return 0;
    // Signed: a clock that went back (or wrapped) makes the values due.
    auto age = static_cast<int32_t>(now - g_held.last);
    if (age < 0 || age >= static_cast<int32_t>(kLayoutWriteIntervalMs)) return 0;
    return static_cast<int>(kLayoutWriteIntervalMs) - age;
}

void layout_update(uint32_t now) {
    if (layout_pending_ms(now) != 0) return;
    write_held();
    g_held.wrote = true;
    g_held.last = now;
}

void layout_flush() {
    write_held();
    g_held.wrote = false;
}

void layout_window_moved(const WindowRect& frame, bool minimized, bool maximized, uint32_t now) {
    if (minimized || maximized) return;
    g_held.position = true;
    g_held.x = frame.x;
    g_held.y = frame.y;
    layout_update(now);
}

void layout_window_resized(const WindowRect& frame, bool minimized, bool maximized, bool three_d_ready,
                           uint32_t now) {
    if (!three_d_ready || minimized) return;
    g_held.maximized = true;
    g_held.max = maximized ? 1 : 0;
    if (!maximized) {
        // Maximising keeps the normal size that was last written.
        g_held.size = true;
        g_held.width = frame.width;
        g_held.height = frame.height;
    }
    layout_update(now);
}

bool layout_start_maximized() { return settings_get_int("layout", "maximized") == 1; }

}  // namespace zk
