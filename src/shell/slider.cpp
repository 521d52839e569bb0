#include "shell/slider.h"

#include <algorithm>
#include <cstdio>

#include "core/log.h"
#include "core/settings.h"

namespace zk {

namespace {

constexpr int kSplitMargin = 10;
constexpr int kStatusMargin = 30;

// One splitter: the fraction it keeps, and the limits and place of the last
// layout that its drag is held within.
struct Splitter {
    double fraction = 0;
    int size = 0;       // client height (width for the vertical one)
    int low = 0, high = 0;
    int position = 0;
    int across_low = 0, across_high = 0;  // where along the line the mouse counts
    bool dragging = false;
};
Splitter g_h{kDefaultBorder}, g_v{kDefaultVBorder};
bool g_web_shown = false;

double stored(const char* key, double fallback) {
    const double v = settings_get_decimal("layout", key, -1);
    return v > 0 && v < 1 ? v : fallback;
}

// The position of a fraction within the limits; a position held at a limit
// becomes the new fraction. A window too small for the limits keeps the
// fraction the user chose.
int place(Splitter& s) {
    // The fraction is stored with six decimals: a little more than their
    // rounding keeps a stored place from coming back a pixel short.
    const int wanted = static_cast<int>(s.size * s.fraction + 1e-3);
    if (s.high < s.low) return std::clamp(s.low, 0, std::max(s.size, 0));
    const int position = std::clamp(wanted, s.low, s.high);
    if (position != wanted && s.size > 0) s.fraction = static_cast<double>(position) / s.size;
    return position;
}

int held(const Splitter& s, int at) { return s.high < s.low ? s.position : std::clamp(at, s.low, s.high); }

bool over(const Splitter& s, int along, int across) {
    return along >= s.position - 2 && along <= s.position + 1 && across >= s.across_low && across < s.across_high;
}

bool release(Splitter& s, int at, const char* key) {
    if (!s.dragging) return false;
    s.dragging = false;
    s.position = held(s, at);
    if (s.size > 0) s.fraction = static_cast<double>(s.position) / s.size;
    char text[32];
    std::snprintf(text, sizeof text, "%f", s.fraction);
    settings_put_string("layout", key, text);
    return true;
}

}  // namespace

void slider_init() {
    if (log_on(Trace::trace)) log_write("slider_init");
    g_h = Splitter{stored("border", kDefaultBorder)};
}

void vslider_init() {
    if (log_on(Trace::trace)) log_write("vslider_init");
    g_v = Splitter{stored("vborder", kDefaultVBorder)};
}

double slider_border() { return g_h.fraction; }
double vslider_border() { return g_v.fraction; }

PaneLayout slider_layout(int width, int height, int toolbar_height, int status_height, bool web_shown) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    toolbar_height = std::max(toolbar_height, 0);
    status_height = std::clamp(status_height, 0, height);
    PaneLayout l;
    g_web_shown = web_shown;

    // 1. The left column, and the web pane right of it.
    l.vsplit = width;
    const int status_top = height - status_height;
    if (web_shown) {
        g_v.size = width;
        g_v.low = kSplitMargin;
        g_v.high = width - kSplitMargin;
        l.vsplit = g_v.position = place(g_v);
        const int web_top = std::min(toolbar_height, status_top);
        l.web = {l.vsplit, web_top, width - l.vsplit, status_top - web_top};
        g_v.across_low = web_top;
        g_v.across_high = status_top;
    }
    const int left = l.vsplit;

    // 2-3. The top strip, and the horizontal split below it.
    const int top = std::min(toolbar_height + kGestureStripHeight, height);
    g_h.size = height;
    g_h.low = top + kSplitMargin;
    g_h.high = height - status_height - kStatusMargin;
    l.split = g_h.position = place(g_h);
    g_h.across_low = 0;
    g_h.across_high = left;

    // 4. The view down to one pixel short of the split, the console under
    // it down to the chat line, which sits on the status bar.
    const int chat_top = std::max(status_top - kChatLineHeight, 0);
    const int split = std::clamp(l.split, top, chat_top);
    l.view = {0, top, left, std::max(split - top - 1, 0)};
    l.console = {0, split, left, chat_top - split};
    l.chat = {0, chat_top, left, status_top - chat_top};
    l.status = {0, status_top, width, status_height};
    return l;
}

bool slider_over(int x, int y) { return over(g_h, y, x); }

bool slider_press(int x, int y) {
    if (!slider_over(x, y)) return false;
    g_h.dragging = true;
    return true;
}

int slider_move(int y) { return held(g_h, y); }
bool slider_release(int y) { return release(g_h, y, "border"); }

bool vslider_over(int x, int y) { return g_web_shown && over(g_v, x, y); }

bool vslider_press(int x, int y) {
    if (!vslider_over(x, y)) return false;
    g_v.dragging = true;
    return true;
}

int vslider_move(int x) { return held(g_v, x); }
bool vslider_release(int x) { return release(g_v, x, "vborder"); }

int slider_update() { return g_h.dragging ? 1 : 0; }
int vslider_update() { return g_v.dragging ? 1 : 0; }

}  // namespace zk
