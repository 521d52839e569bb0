#include "world/visible.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "core/log.h"
#include "core/settings.h"
#include "core/tasks.h"
#include "art/model.h"
#include "common/keyed_table.h"
#include "platform/os.h"
#include "platform/ui.h"
#include "view/frame.h"
#include "view/self.h"
#include "world/cell.h"
#include "world/prop.h"
#include "world/world.h"

namespace zk {

namespace {

// The visibility pane's width among the status panes.
constexpr int kPaneWeight = 16;

// --- The distance table ---------------------------------------------------

// The nearest 25 in the order cells are loaded: the user's own cell, the
// 3 x 3 block, then the rest of the 5 x 5 block.
constexpr VisibleOffset kNearest[25] = {
    {0, 0, 0},    {1, 0, 10},   {0, 1, 10},   {-1, 0, 10},  {0, -1, 10},  {-1, -1, 14}, {1, -1, 14},
    {-1, 1, 14},  {1, 1, 14},   {-2, 0, 20},  {2, 0, 20},   {0, -2, 20},  {0, 2, 20},   {-2, 1, 22},
    {-2, -1, 22}, {2, -1, 22},  {2, 1, 22},   {1, -2, 22},  {-1, -2, 22}, {-1, 2, 22},  {1, 2, 22},
    {2, 2, 28},   {2, -2, 28},  {-2, -2, 28}, {-2, 2, 28},
};

constexpr int kReach = 12;        // no offset reaches further than 12 cells
constexpr int kFarthest = 120;    // metres

// trunc(10 * sqrt(dx^2 + dz^2)) in integers: the largest d with d^2 <= 100 s.
int offset_distance(int dx, int dz) {
    const int s = 100 * (dx * dx + dz * dz);
    int d = int(std::sqrt(double(s)));
    while (d * d > s) --d;
    while ((d + 1) * (d + 1) <= s) ++d;
    return d;
}

// Six of the offsets at exactly 120 m are not in the table, which keeps it
// at 459 entries.
bool left_out(int dx, int dz) {
    return (dz == 12 && dx >= -1 && dx <= 1) || (dx == 12 && dz >= -1 && dz <= 1);
}

bool in_nearest(int dx, int dz) {
    for (const VisibleOffset& e : kNearest)
        if (e.dx == dx && e.dz == dz) return true;
    return false;
}

struct Table {
    std::array<VisibleOffset, visible_table_size> entries{};
    Table() {
        std::vector<VisibleOffset> rest;
        for (int dz = -kReach; dz <= kReach; ++dz)
            for (int dx = -kReach; dx <= kReach; ++dx) {
                const int d = offset_distance(dx, dz);
                if (d > kFarthest || in_nearest(dx, dz) || left_out(dx, dz)) continue;
                rest.push_back({int8_t(dx), int8_t(dz), int16_t(d)});
            }
        // Within one distance the offsets keep the scan's order (z, then x).
        std::stable_sort(rest.begin(), rest.end(),
                         [](const VisibleOffset& a, const VisibleOffset& b) { return a.distance < b.distance; });
        size_t n = 0;
        for (const VisibleOffset& e : kNearest) entries[n++] = e;
        for (const VisibleOffset& e : rest)
            if (n < entries.size()) entries[n++] = e;
    }
    const VisibleOffset& operator[](int i) const { return entries[size_t(i)]; }
};

const Table kTable;

// --- Loaded cells ---------------------------------------------------------

struct CellNode {
    CellNode* next;
    object* obj;
};

// The value area of a loaded cell in the table (zeroed on insertion).
struct LoadedCell {
    CellNode* head;
    bool stale;
};

constexpr uint32_t kBuckets = 501;
constexpr uint32_t kSettleMs = 5000;   // between range changes
constexpr int kMenuCommand = 120;
constexpr int kBudgetGrant = 50;
constexpr int kBudgetFloor = -300;
constexpr int kBlock3 = 9;             // entries of the 3 x 3 block
constexpr int kBlock5 = 25;            // entries of the 5 x 5 block

struct State {
    KeyedTable* table = nullptr;
    int16_t centre_x = 0, centre_z = 0;
    int current_cell = 0;
    int range = 0;
    int minimum_range = 0;
    int minimum_setting = -1;   // the visibility setting the minimum was made from
    int budget = 0;
    bool done = false;
    bool cells_changed = false;
    bool restart = true;
    uint32_t last_commit = 0;
    bool reveal = false;
    int pane = 0;
    bool pane_shown = false;
    uint64_t loads = 0;
    // visible_start / visible_next
    CellNode* iter = nullptr;
};

State g;
VisiblePorts g_ports;

struct CellKey {
    uint8_t bytes[4];
};

CellKey key_of(int16_t x, int16_t z) {
    CellKey k;
    std::memcpy(k.bytes, &x, 2);
    std::memcpy(k.bytes + 2, &z, 2);
    return k;
}

int16_t wrap16(int v) { return int16_t(uint16_t(v)); }

LoadedCell* find_cell(int16_t x, int16_t z) {
    if (!g.table) return nullptr;
    const CellKey k = key_of(x, z);
    return g.table->find_as<LoadedCell>(k.bytes, sizeof k.bytes);
}

void destroy_objects(LoadedCell* c) {
    CellNode* n = c->head;
    c->head = nullptr;
    while (n) {
        CellNode* next = n->next;
        object_destroy(n->obj);
        delete n;
        n = next;
    }
}

void drop_everything() {
    g.iter = nullptr;
    if (!g.table) return;
    KeyedTable::Iterator it(*g.table);
    while (it.next()) {
        destroy_objects(static_cast<LoadedCell*>(it.value()));
        it.remove_current();
    }
}

int setting_or(const char* key, int fallback, int low, int high) {
    const int v = settings_get_int("performance", key);
    if (v == -1) return fallback;
    return std::clamp(v, low, high);
}

// Values outside the Performance page's spin ranges are held at their ends.
int visibility_setting() { return setting_or("visibility", 40, 25, 120); }
int framerate_setting() { return setting_or("framerate", 5, 3, 12); }

void show_pane_text() {
    if (!g.pane || !ui_present()) return;
    char text[32];
    std::snprintf(text, sizeof text, "%d meters", int(kTable[g.range].distance));
    ui().status_pane_set(g.pane, text);
}

void compute_minimum_range() {
    const int metres = visibility_setting();
    g.minimum_setting = metres;
    g.minimum_range = visible_range_limit;
    for (int i = 0; i < visible_range_limit; ++i) {
        if (kTable[i].distance > metres) {
            g.minimum_range = std::max(i - 1, 0);
            break;
        }
    }
    if (g.minimum_range > g.range) {
        g.range = g.minimum_range;
        show_pane_text();
    }
}

void increase_range(int steps) {
    g.range = std::min(g.range + visible_range_step * steps, visible_range_limit);
    g.done = false;
    show_pane_text();
}

void decrease_range(int steps) {
    g.range = std::max(g.minimum_range, g.range - visible_range_step * steps);
    if (g.current_cell > g.range) g.current_cell = g.range;
    g.cells_changed = true;
    show_pane_text();
}

void load_cell(int16_t x, int16_t z, LoadedCell* c) {
    cell_start(x, z);
    object* o = nullptr;
    while (cell_next(&o) && o) {
        CellNode* n = new (std::nothrow) CellNode{c->head, o};
        if (!n) {
            object_destroy(o);
            break;
        }
        c->head = n;
        // A create action may have made it invisible.
        if (!g.reveal && o->model && !o->visible) model_hide(o->model);
    }
    ++g.loads;
}

bool user_moving() {
    double vx = 0, vz = 0;
    g_ports.velocity(&vx, &vz);
    return 10.0 * std::sqrt(vx * vx + vz * vz) > 2.0;
}

void work_pass() {
    if (g.budget < 1) g.budget += kBudgetGrant;
    if (g.budget < kBudgetFloor) g.budget = kBudgetFloor;
    const bool moving = user_moving();
    if (log_on(Trace::visible))
        log_write("visible: do_work (budget: %d, moving: %d, current_cell: %d, range: %d)", g.budget, moving ? 1 : 0,
                  g.current_cell, g.range);
    for (;;) {
        // The 3 x 3 block is loaded whatever the budget.
        if (g.current_cell >= kBlock3 && (g.current_cell >= g.range || g.budget < 1)) break;
        if (g.current_cell >= visible_table_size) break;
        if (moving && g.current_cell > kBlock5) {
            g.done = true;
            return;
        }
        const VisibleOffset& e = kTable[g.current_cell++];
        const int16_t x = wrap16(g.centre_x + e.dx);
        const int16_t z = wrap16(g.centre_z + e.dz);
        const uint32_t start = g_ports.clock();
        const CellKey k = key_of(x, z);
        bool existed = false;
        LoadedCell* c = g.table->find_or_add_as<LoadedCell>(k.bytes, sizeof k.bytes, &existed);
        if (c) {
            c->stale = true;
            if (!existed) load_cell(x, z, c);
        }
        g.budget -= int(g_ports.clock() - start);
    }
    g.done = g.current_cell == g.range;
}

void commit(uint32_t now) {
    if (log_on(Trace::visible)) log_write("commit_changes");
    model_flush();
    g.last_commit = now;
    if (!g.cells_changed) {
        if (log_on(Trace::visible)) log_write("no cleanup needed");
        return;
    }
    for (int i = 0; i < g.range; ++i) {
        if (LoadedCell* c = find_cell(wrap16(g.centre_x + kTable[i].dx), wrap16(g.centre_z + kTable[i].dz)))
            c->stale = false;
    }
    KeyedTable::Iterator it(*g.table);
    while (it.next()) {
        auto* c = static_cast<LoadedCell*>(it.value());
        if (c->stale) {
            if (log_on(Trace::visible)) log_write("deleting cell");
            g.iter = nullptr;
            destroy_objects(c);
            it.remove_current();
        } else {
            c->stale = true;
        }
    }
    g.cells_changed = false;
}

void set_pane(bool shown) {
    g.pane_shown = shown;
    if (!ui_present()) return;
    if (shown && !g.pane) g.pane = ui().status_pane_add(kPaneWeight);
    if (!shown && g.pane) {
        ui().status_pane_remove(g.pane);
        g.pane = 0;
    }
    ui().menu_check(kMenuCommand, shown);
    show_pane_text();
}

template <class F>
void for_each_object(F&& f) {
    if (!g.table) return;
    KeyedTable::Iterator it(*g.table);
    while (it.next()) {
        for (CellNode* n = static_cast<LoadedCell*>(it.value())->head; n; n = n->next) f(n->obj);
    }
}

bool shows(const object* o, const RwClump* instance) {
    return instance && o->model && model_clump(o->model) == instance;
}

}  // namespace

const VisibleOffset* visible_table() { return kTable.entries.data(); }

VisiblePorts& visible_ports() {
    if (!g_ports.now) visible_ports_restore();
    return g_ports;
}

void visible_ports_restore() {
    g_ports.now = tick_now;
    g_ports.clock = os_tick_count;
    g_ports.attributes_known = world_attributes_known;
    g_ports.teleport_pending = self_gliding;
    g_ports.query_outstanding = prop_query_outstanding;
    g_ports.position = self_position;
    g_ports.velocity = self_velocity;
    g_ports.frame_rate = frame_rate;
}

void visible_init() {
    if (log_on(Trace::trace)) log_write("visible_init");
    visible_ports();
    if (!g.table) g.table = new (std::nothrow) KeyedTable(kBuckets, sizeof(LoadedCell));
    compute_minimum_range();
    if (settings_get_int("show", "visibility") == 1) set_pane(true);
}

void visible_term() {
    drop_everything();
    delete g.table;
    g.table = nullptr;
    if (g.pane && ui_present()) ui().status_pane_remove(g.pane);
    g = State{};
}

void visible_update() {
    if (!g.table) return;
    VisiblePorts& p = visible_ports();
    if (!p.attributes_known() || p.teleport_pending()) return;
    const uint32_t now = p.now();

    if (!p.query_outstanding() && now - g.last_commit > kSettleMs) {
        if (visibility_setting() != g.minimum_setting) compute_minimum_range();
        // No figure yet (nothing drawn) is no reason to shrink the range.
        const float f = p.frame_rate();
        const float t = float(framerate_setting());
        if (f > 0 && f < t - 1) decrease_range(int(t - f));
        else if (f > t + 1) increase_range(int(f - t));
    }

    double x = 0, y = 0, z = 0;
    p.position(&x, &y, &z);
    const int16_t cx = cell_index(x), cz = cell_index(z);
    bool moved = false;
    if (g.restart || cx != g.centre_x || cz != g.centre_z) {
        g.centre_x = cx;
        g.centre_z = cz;
        g.cells_changed = true;
        g.restart = false;
        moved = true;
    }

    if (g.current_cell < g.range) {
        work_pass();
        if (g.done || g.current_cell < kBlock5) commit(now);
    } else {
        g.done = true;
    }

    if (moved) {
        g.current_cell = 0;
        g.done = false;
        return;
    }
    if (now - g.last_commit > kSettleMs) commit(now);
}

void visible_reset() {
    if (log_on(Trace::trace)) log_write("visible_reset");
    drop_everything();
    g.restart = true;
    g.current_cell = 0;
}

void visible_invalidate(int x, int z) {
    const int16_t cx = wrap16(x), cz = wrap16(z);
    if (LoadedCell* c = find_cell(cx, cz)) {
        g.iter = nullptr;
        destroy_objects(c);
        const CellKey k = key_of(cx, cz);
        g.table->remove(k.bytes, sizeof k.bytes);
    }
    g.current_cell = 0;
}

void visible_cell_changed(int x, int z) { visible_invalidate(x, z); }

void visible_consider(object* o) {
    if (!o) return;
    LoadedCell* c = find_cell(cell_index(o->x), cell_index(o->z));
    CellNode* n = c ? new (std::nothrow) CellNode{c->head, o} : nullptr;
    if (!n) {
        object_destroy(o);
        return;
    }
    c->head = n;
}

object* visible_element(const RwClump* instance) {
    object* found = nullptr;
    for_each_object([&](object* o) {
        if (!found && shows(o, instance)) found = o;
    });
    return found;
}

int visible_ignore(const RwClump* instance, int16_t* cell_x, int16_t* cell_z, object** out) {
    if (!g.table || !instance) return 0;
    KeyedTable::Iterator it(*g.table);
    while (it.next()) {
        auto* c = static_cast<LoadedCell*>(it.value());
        for (CellNode** link = &c->head; *link; link = &(*link)->next) {
            CellNode* n = *link;
            if (!shows(n->obj, instance)) continue;
            *link = n->next;
            if (g.iter == n) g.iter = n->next;
            const uint8_t* key = it.key();
            if (cell_x) std::memcpy(cell_x, key, 2);
            if (cell_z) std::memcpy(cell_z, key + 2, 2);
            if (out) *out = n->obj;
            delete n;
            return 1;
        }
    }
    return 0;
}

void visible_start(int x, int z) {
    const LoadedCell* c = find_cell(wrap16(x), wrap16(z));
    g.iter = c ? c->head : nullptr;
}

RwClump* visible_next(object** out) {
    if (!g.iter) {
        if (out) *out = nullptr;
        return nullptr;
    }
    object* o = g.iter->obj;
    g.iter = g.iter->next;
    if (out) *out = o;
    return model_clump(o->model);
}

void visible_reveal_on() {
    g.reveal = true;
    for_each_object([](object* o) {
        if (!o->visible && o->model) model_show(o->model);
    });
}

void visible_reveal_off() {
    g.reveal = false;
    for_each_object([](object* o) {
        if (!o->visible && o->model) model_hide(o->model);
    });
}

bool visible_revealing() { return g.reveal; }

void visible_show_object(object* o) {
    if (o && o->model && !g.reveal) model_show(o->model);
}

void visible_hide_object(object* o) {
    if (o && o->model && !g.reveal) model_hide(o->model);
}

void visible_toggle() {
    set_pane(!g.pane_shown);
    settings_put_int("show", "visibility", g.pane_shown ? 1 : 0);
}

bool visible_pane_shown() { return g.pane_shown; }

int visible_range() { return g.range; }
int visible_minimum_range() { return g.minimum_range; }
int visible_current_cell() { return g.current_cell; }
int visible_budget() { return g.budget; }
bool visible_done() { return g.done; }
int visible_loaded_count() { return g.table ? int(g.table->size()) : 0; }
bool visible_cell_loaded(int x, int z) { return find_cell(wrap16(x), wrap16(z)) != nullptr; }
uint64_t visible_loads() { return g.loads; }

}  // namespace zk
