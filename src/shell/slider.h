// The layout of the main window's client area and its two splitters: the
// horizontal one between the 3D view and the console, the vertical one
// between the left column and the web pane. Their places are fractions of
// the client area, kept in [layout] border and vborder.
#pragma once

#include "platform/ui.h"

namespace zk {

constexpr int kGestureStripHeight = 23;
constexpr int kChatLineHeight = 21;
constexpr double kDefaultBorder = 0.68;
constexpr double kDefaultVBorder = 0.75;

struct PaneLayout {
    WindowRect view, console, chat, status, web;  // web: empty while hidden
    int split = 0;   // y of the horizontal split line
    int vsplit = 0;  // x of the vertical one (the width while the web is hidden)
};

// Reads the stored fractions; values outside (0, 1) fall back to 0.68 and
// 0.75.
void slider_init();
void vslider_init();
double slider_border();
double vslider_border();

// Lays out a client area `width` x `height`. A split position outside its
// limits is held there and its fraction becomes position / size.
PaneLayout slider_layout(int width, int height, int toolbar_height, int status_height, bool web_shown);

// The splitters, in client coordinates of the last layout. Over: the mouse
// is within (split - 2) ... (split + 1). A press there starts a drag and
// answers true; a move answers where the bar is drawn (held within the
// limits); a release stores the new fraction, writes it ("%f") and answers
// true; the caller lays the window out again.
bool slider_over(int x, int y);
bool slider_press(int x, int y);
int slider_move(int y);
bool slider_release(int y);
bool vslider_over(int x, int y);
bool vslider_press(int x, int y);
int vslider_move(int x);
bool vslider_release(int x);

// Polled before each pass: 1 while a splitter is being dragged (the pass is
// skipped), else 0.
int slider_update();
int vslider_update();

}  // namespace zk
