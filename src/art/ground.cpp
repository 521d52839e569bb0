#include "art/ground.h"

#include "art/model.h"
#include "core/log.h"
#include "world/cell.h"

namespace zk {

namespace {

struct State {
    model_ref* ref = nullptr;
    std::string name;  // with ".rwx"
    int sector_x = 0, sector_z = 0;
    bool just_set = false;
};
State g;
GroundHooks g_hooks;

// One sector is 6 cells of one unit: the ground moves by whole sectors so
// that a pattern repeating every unit lines up wherever it lies, and the
// user is never more than 3 units from its centre.
void place(int sx, int sz) {
    g.sector_x = sx, g.sector_z = sz;
    model_place(g.ref, 6.0 * sx, 0, 6.0 * sz, 0);
}

}  // namespace

GroundHooks& ground_hooks() { return g_hooks; }

void ground_set(const std::string& given) {
    if (given.empty()) {
        ground_clear();
        return;
    }
    const std::string name = given + ".rwx";
    if (g.ref && name == g.name) return;
    ground_clear();
    if (log_on(Trace::trace)) log_write("ground_set (%s)", name.c_str());
    g.ref = model_reference("models", name, nullptr);
    if (!g.ref) return;
    g.name = name;
    g.just_set = true;
    ground_update();
}

void ground_clear() {
    model_dereference(g.ref);
    g.ref = nullptr;
    g.name.clear();
}

RwClump* ground_clump() { return model_clump(g.ref); }

bool ground_ready() { return model_ready(g.ref); }

void ground_update() {
    if (!g.ref) return;
    double x = 0, z = 0;
    if (g_hooks.position) g_hooks.position(&x, nullptr, &z);
    const int sx = cell_sector_of(x), sz = cell_sector_of(z);
    if (g.just_set || sx != g.sector_x || sz != g.sector_z) {
        g.just_set = false;
        place(sx, sz);
    }
}

void ground_release() {
    if (log_on(Trace::trace)) log_write("ground_release");
    ground_clear();
}

}  // namespace zk
