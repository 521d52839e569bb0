#include "view/frame.h"

#include "core/log.h"
#include "core/settings.h"
#include "core/tasks.h"
#include "common/messages.h"
#include "platform/ui.h"
#include "render/texture.h"
#include "view/camera.h"

namespace zk {

namespace {

// The frame-rate pane's width among the status panes.
constexpr int kPaneWeight = 18;

constexpr uint32_t kFrameStep = 200;
constexpr int kBuckets = 10;
constexpr int kCommand = 121;

// The drawn frames of about a second, and the time from the pass before
// each to the pass that drew it.
struct Bucket {
    uint32_t start = 0;
    uint32_t count = 0;
    uint32_t busy = 0;
};

uint32_t g_next = 0;  // the next texture-frame boundary; 0 before the first frame
Bucket g_buckets[kBuckets];
int g_current = 0;
uint32_t g_last = 0;  // the previous pass
float g_rate = 0;
int g_pane = 0;
bool g_display = false;

void show_display(bool on) {
    if (!ui_present()) {
        g_display = on;
        return;
    }
    if (on && !g_pane) {
        g_pane = ui().status_pane_add(kPaneWeight);
        ui().status_pane_set(g_pane, load_message(26, double(g_rate)));
    }
    if (!on && g_pane) {
        ui().status_pane_remove(g_pane);
        g_pane = 0;
    }
    g_display = on;
    ui().menu_check(kCommand, on);
}

}  // namespace

void frame_init() {
    if (log_on(Trace::trace)) log_write("frame_init");
    if (settings_get_int("show", "framerate") == 1) show_display(true);
}

void frame_update_at(uint32_t now) {
    if (g_next == 0) g_next = now + kFrameStep;
    if (int32_t(now - g_next) >= 0) {
        rw_textures_advance_frames();
        // A boundary missed by more than a step is not caught up frame by frame.
        const uint32_t behind = now - g_next;
        g_next += (behind / kFrameStep + 1) * kFrameStep;
    }
}

void frame_update() { frame_update_at(tick_now()); }

void fps_update_at(uint32_t now, bool drew) {
    const uint32_t since = g_last ? now - g_last : 0;
    g_last = now;
    // A pass that drew nothing says nothing of the renderer: idle, the
    // figure stays what the last drawn frames sustained.
    if (!drew || since == 0) return;
    Bucket& b = g_buckets[g_current];
    const bool next = b.count > 0 && now - b.start >= 1001;
    if (b.count > 0 && !next) {
        ++b.count;
        b.busy += since;
    } else {
        if (next) g_current = (g_current + 1) % kBuckets;
        g_buckets[g_current] = {now, 1, since};
    }
    uint64_t frames = 0, busy = 0;
    for (const Bucket& k : g_buckets) frames += k.count, busy += k.busy;
    g_rate = busy > 0 ? float(double(frames) * 1000.0 / double(busy)) : 0.0f;
    if (next && log_on(Trace::visible)) log_write("frame rate %.1f", double(g_rate));
    if (g_display && g_pane && ui_present()) ui().status_pane_set(g_pane, load_message(26, double(g_rate)));
}

void fps_update() { fps_update_at(tick_now(), camera_drawing()); }

float frame_rate() { return g_rate; }

void fps_toggle_display() {
    show_display(!g_display);
    settings_put_int("show", "framerate", g_display ? 1 : 0);
}

bool fps_display_on() { return g_display; }

void frame_clear_counters() {
    if (log_on(Trace::trace)) log_write("frame_clear_counters");
    for (Bucket& b : g_buckets) b = {};
    g_current = 0;
    g_last = 0;
    g_rate = 0;
    g_next = 0;
}

}  // namespace zk
