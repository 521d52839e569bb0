// The main window's size and position, kept in [layout] of the settings.
#pragma once

#include <cstdint>

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

// Called by the main window on every move and resize, with the millisecond
// tick. A window being dragged reports hundreds of these a second, and each
// write replaces and syncs zelnik.ini, so [layout] is written at most once a
// second: the first change at once, later ones held until their second is
// over (layout_update) or the end (layout_flush).
constexpr uint32_t kLayoutWriteIntervalMs = 1000;
void layout_window_moved(const WindowRect& frame, bool minimized, bool maximized, uint32_t now);
void layout_window_resized(const WindowRect& frame, bool minimized, bool maximized, bool three_d_ready,
                           uint32_t now);
// Milliseconds until held values are due (0: now), or -1 when none are held.
int layout_pending_ms(uint32_t now);
// Writes held values once they are due.
void layout_update(uint32_t now);
// Writes held values now (the window closes or the program ends).
void layout_flush();

// [layout] maximized = 1: open maximised.
bool layout_start_maximized();

}  // namespace zk
