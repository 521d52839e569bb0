#include "shell/bps.h"

#include <atomic>

#include "common/messages.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/tasks.h"
#include "platform/ui.h"
#include "shell/menu.h"

namespace zk {

namespace {

constexpr int kSlots = 10;
constexpr uint32_t kSlotMs = 1000;

// Bytes counted since the last update; the HTTP workers add to it too.
std::atomic<uint64_t> g_pending{0};

struct State {
    uint64_t slots[kSlots] = {};
    int slot = 0;
    uint32_t due = 0;
    bool started = false;
    bool shown = false;
    int pane = 0;
};
State g;

void show(bool shown) {
    g.shown = shown;
    menu_set_checked(kCommandShowBandwidth, shown);
    if (!ui_present()) return;
    if (shown && !g.pane) g.pane = ui().status_pane_add(kBpsPaneWeight);
    if (!shown && g.pane) {
        ui().status_pane_remove(g.pane);
        g.pane = 0;
    }
}

}  // namespace

void bps_init() {
    if (log_on(Trace::trace)) log_write("bps_init");
    if (settings_get_int("show", "bandwidth") == 1) show(true);
}

void bps_update() { bps_update_at(tick_now()); }

void bps_update_at(uint32_t now) {
    if (!g.started) {
        g.started = true;
        g.due = now;
    }
    if (static_cast<int32_t>(now - g.due) < 0) return;
    g.slots[g.slot] += g_pending.exchange(0, std::memory_order_relaxed);
    uint64_t sum = 0;
    for (uint64_t s : g.slots) sum += s;
    if (g.shown && g.pane && ui_present()) ui().status_pane_set(g.pane, bps_text(sum));
    g.slot = (g.slot + 1) % kSlots;
    g.slots[g.slot] = 0;
    // After a long stall (a modal dialog) the meter starts its seconds anew
    // rather than running through every one it missed.
    g.due = now - g.due >= kSlots * kSlotMs ? now + kSlotMs : g.due + kSlotMs;
}

void bps_count(uint32_t bytes) { g_pending.fetch_add(bytes, std::memory_order_relaxed); }

void bps_toggle() {
    show(!g.shown);
    settings_put_int("show", "bandwidth", g.shown ? 1 : 0);
}

bool bps_shown() { return g.shown; }

std::string bps_text(uint64_t bytes) { return load_message(118, static_cast<double>(bytes) * 0.0001); }

void bps_term() {
    if (g.pane && ui_present()) ui().status_pane_remove(g.pane);
    g = State{};
    g_pending.store(0, std::memory_order_relaxed);
}

}  // namespace zk
