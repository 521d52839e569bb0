// The main window's size and position, kept in [layout] of the settings.
#pragma once

#include "platform/ui.h"

namespace zk {

constexpr int kMinWindowWidth = 300;
constexpr int kMinWindowHeight = 170;

// Where and how large the main window opens, from the stored values (-1 when
// missing) and the screen size.
WindowPlacement layout_placement(int main_x, int main_y, int main_width, int main_height,
                                 int screen_width, int screen_height);
// The same, reading [layout] from the settings.
WindowPlacement layout_initial_placement(int screen_width, int screen_height);

// The window can be tracked between 300 x 170 and the screen plus 8 pixels.
struct TrackLimits {
    int min_width, min_height, max_width, max_height;
};
TrackLimits layout_track_limits(int screen_width, int screen_height);

// Called by the main window on every move and resize; they write [layout].
void layout_window_moved(const WindowRect& frame, bool minimized, bool maximized);
void layout_window_resized(const WindowRect& frame, bool minimized, bool maximized, bool three_d_ready);

// [layout] maximized = 1: open maximised.
bool layout_start_maximized();

}  // namespace zk
