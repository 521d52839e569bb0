#include "app/layout.h"

#include "app/settings.h"

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

void layout_window_moved(const WindowRect& frame, bool minimized, bool maximized) {
    if (minimized || maximized) return;
    settings_put_int("layout", "main_x", frame.x);
    settings_put_int("layout", "main_y", frame.y);
}

void layout_window_resized(const WindowRect& frame, bool minimized, bool maximized, bool three_d_ready) {
    if (!three_d_ready || minimized) return;
    if (maximized) {
        settings_put_int("layout", "maximized", 1);
        return;
    }
    settings_put_int("layout", "main_height", frame.height);
    settings_put_int("layout", "main_width", frame.width);
    settings_put_int("layout", "maximized", 0);
}

bool layout_start_maximized() { return settings_get_int("layout", "maximized") == 1; }

}  // namespace zk
