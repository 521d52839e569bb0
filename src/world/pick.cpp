#include "world/pick.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include "art/model.h"
#include "core/log.h"
#include "render/camera.h"
#include "render/clump.h"
#include "view/camera.h"
#include "view/click.h"
#include "view/self.h"
#include "world/cell.h"
#include "world/pdialog.h"
#include "world/prop.h"
#include "world/visible.h"

namespace zk {

namespace {

// At most one object is selected; while it is, no cell list holds it.
struct Selection {
    object* obj = nullptr;
    int16_t cell_x = 0, cell_z = 0;  // where it was taken from
    double x = 0, y = 0, z = 0;      // as it was when taken
    float yaw = 0;
    bool is_new = false;   // a duplicate not sent yet
    bool changed = false;  // moved, turned or undone
    int quadrant = 0;      // where the user looked when selecting
};
Selection s;

RwScene* g_scene = nullptr;
RwClump* g_box = nullptr;
const RwClump* g_fitted = nullptr;
uint32_t g_fitted_version = 0;
RwMatrix g_fit;  // the unit box onto the instance's bounding box

PickPorts real_ports() { return {view_instance_at, self_yaw}; }
PickPorts g_ports = real_ports();

bool server_known() {
    const uint32_t a = prop_ports().server_address();
    return a != 0 && a != 0xFFFFFFFFu;
}

RwClump* instance_of(const object* o) { return o ? model_clump(o->model) : nullptr; }

void place(object* o) {
    if (o->model && object_hooks().model_place) object_hooks().model_place(o->model, o->x, o->y, o->z, o->yaw);
}

RwClump* make_box() {
    RwClump* c = rw_clump_create();
    if (!c) return nullptr;
    for (int i = 0; i < 8; ++i)
        c->vertices.push_back({RwV3{i & 1 ? 0.5f : -0.5f, i & 2 ? 0.5f : -0.5f, i & 4 ? 0.5f : -0.5f}});
    RwMaterial m;
    m.r = 1, m.g = 0.9f, m.b = 0.1f;
    m.ambient = 1, m.diffuse = 0;
    m.geometry = RwGeometrySampling::wireframe;
    c->materials.push_back(m);
    for (auto face : {std::initializer_list<uint32_t>{0, 1, 3, 2}, {4, 6, 7, 5}, {0, 4, 5, 1}, {2, 3, 7, 6},
                      {0, 2, 6, 4}, {1, 5, 7, 3}})
        c->polygons.push_back({std::vector<uint32_t>(face), 0, 0});
    rw_clump_changed(c);
    return c;
}

void fit_highlight() {
    const RwClump* c = instance_of(s.obj);
    if (!g_box || !c) return;
    // A model that arrives later replaces the instance: fit the box anew.
    if (c != g_fitted || c->version != g_fitted_version) {
        const RwBox b = rw_clump_hierarchy_bbox(c);
        const RwV3 lo = b.empty ? RwV3{} : b.min, hi = b.empty ? RwV3{} : b.max;
        g_fit = matrix_translation((lo.x + hi.x) / 2, (lo.y + hi.y) / 2, (lo.z + hi.z) / 2) *
                matrix_scale(std::max(hi.x - lo.x, 0.01f), std::max(hi.y - lo.y, 0.01f), std::max(hi.z - lo.z, 0.01f));
        g_fitted = c;
        g_fitted_version = c->version;
    }
    rw_clump_transform(g_box, rw_clump_world_matrix(c) * g_fit);
}

void take(object* o, int16_t cell_x, int16_t cell_z, bool is_new) {
    s = Selection{o, cell_x, cell_z, o->x, o->y, o->z, o->yaw, is_new, false, 0};
    const int yaw = int(g_ports.user_yaw());
    s.quadrant = (((yaw + 18045) % 360 + 360) % 360) / 90;
    g_fitted = nullptr;
    fit_highlight();
    pdialog_fill(o);
}

// One step along the object's own axis nearest to direction d (0-3) from
// its yaw.
void move(object* o, int d, double step) {
    const double degrees = std::fmod(double(o->yaw) + 18045.0, 90.0) - 45.0 + 90.0 * d;
    const double a = degrees * M_PI / 180.0;
    o->x += std::sin(a) * step;
    o->z += std::cos(a) * step;
}

// A decimal citizen number, blanks around it allowed.
bool parse_owner(const std::string& text, uint32_t* out) {
    const size_t first = text.find_first_not_of(' '), last = text.find_last_not_of(' ');
    if (first == std::string::npos || last - first >= 10) return false;
    uint64_t v = 0;
    for (size_t i = first; i <= last; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + uint64_t(text[i] - '0');
    }
    if (v > 0xFFFFFFFFu) return false;
    *out = uint32_t(v);
    return true;
}

// The edit is dropped: an unsent duplicate goes, anything else returns to
// where it was when taken, unchanged.
void hand_back_unchanged(object* o, const Selection& was) {
    if (was.is_new) {
        object_destroy(o);
        return;
    }
    o->x = was.x, o->y = was.y, o->z = was.z, o->yaw = was.yaw;
    place(o);
    visible_consider(o);
}

// Ends the selection: exactly one object, the selected one or its edited
// replacement, goes back to the cells, and the edit is sent.
void deselect() {
    if (!s.obj) return;
    const Selection was = s;
    object* o = was.obj;
    s = Selection{};
    const ObjectFields f = pdialog_fields();
    pdialog_clear();
    uint32_t owner = o->owner;
    // An owner that is not a number gives nothing away.
    if (!parse_owner(f.owner, &owner)) owner = o->owner;
    const bool changed = was.changed || owner != o->owner || f.model != o->model_name ||
                         f.description != o->description || f.action != o->action;
    if ((!was.is_new && !changed) || f.model.empty()) {
        hand_back_unchanged(o, was);
        return;
    }
    object* n = object_create(o->x, o->y, o->z, o->yaw, f.model, f.description, f.action, o->number, owner, false,
                              o->timestamp);
    if (!n) {
        if (log_on(Trace::trace)) log_write("pick: edit dropped, the object could not be made");
        hand_back_unchanged(o, was);
        return;
    }
    int refused = 0;
    if (server_known()) refused = was.is_new ? prop_object_add(n) : prop_object_change(was.cell_x, was.cell_z, n);
    object_destroy(o);
    const int16_t nx = cell_index(n->x), nz = cell_index(n->z);
    visible_consider(n);
    model_flush();
    // Not sent: the scene goes back to what the cache holds.
    if (refused) {
        visible_invalidate(nx, nz);
        if (!was.is_new) visible_invalidate(was.cell_x, was.cell_z);
    }
}

void delete_selected() {
    const Selection was = s;
    s = Selection{};
    const uint8_t number = was.obj->number;
    object_destroy(was.obj);
    pdialog_clear();
    if (!was.is_new && server_known() && prop_object_delete(was.cell_x, was.cell_z, number) != 0)
        visible_invalidate(was.cell_x, was.cell_z);
    // Nothing is selected any more, so nothing is shown that is meant to be hidden.
    visible_reveal_off();
}

void duplicate_selected(double step) {
    object* copy = object_duplicate(s.obj);
    if (!copy) return;
    deselect();
    take(copy, cell_index(copy->x), cell_index(copy->z), true);
    move(copy, s.quadrant, step);
    model_flush();
}

}  // namespace

PickPorts& pick_ports() { return g_ports; }
void pick_ports_restore() { g_ports = real_ports(); }

void pick_init() {
    if (log_on(Trace::trace)) log_write("pick_init");
    if (g_scene) return;
    g_scene = rw_scene_create();
    g_box = make_box();
    if (!g_scene || !g_box) return;
    rw_scene_set_ambient(g_scene, 1.0f);
    rw_scene_add_clump(g_scene, g_box);
}

void pick_update() {
    pdialog_update();
    if (!s.obj) return;
    fit_highlight();
    if (g_scene && g_box && camera_current()) rw_camera_render(camera_current(), g_scene);
}

void pick_term() {
    pick_drop_selection();
    rw_clump_destroy(g_box);
    if (g_scene) rw_scene_destroy(g_scene);
    g_box = nullptr;
    g_scene = nullptr;
    g_fitted = nullptr;
}

void pick_drop_selection() {
    if (log_on(Trace::trace)) log_write("pick_drop_selection");
    if (s.obj) object_destroy(s.obj);
    s = Selection{};
    pdialog_clear();
    visible_reveal_off();
}

bool pick_selected() { return s.obj != nullptr; }
const object* pick_object() { return s.obj; }
const RwClump* pick_highlight() { return g_box; }

int pick_command(int id) {
    if (log_on(Trace::trace)) log_write("pick_command (%d)", id);
    if ((id < 108 || id > 117) && id != 140) return 0;
    object* o = s.obj;
    if (!o) return 1;
    const bool fine = key_held(key_shift);
    const double step = fine ? pick_fine_step : pick_step;
    const float turn = fine ? pick_fine_turn : pick_turn;
    switch (id) {
    case 108: delete_selected(); return 1;
    case 109: duplicate_selected(step); break;
    case 110: o->y += step; break;
    case 111: o->y -= step; break;
    case 112: move(o, s.quadrant, step); break;
    case 113: move(o, (s.quadrant + 2) % 4, step); break;
    case 114: move(o, (s.quadrant + 1) % 4, step); break;
    case 115: move(o, (s.quadrant + 3) % 4, step); break;
    case 116: o->yaw = std::fmod(o->yaw + turn, 360.0f); break;
    case 117: o->yaw = std::fmod(o->yaw - turn, 360.0f); break;
    case 140:
        pdialog_restore();
        o->x = s.x, o->y = s.y, o->z = s.z, o->yaw = s.yaw;
        break;
    }
    if (s.obj) {
        place(s.obj);
        s.changed = true;
    }
    return 1;
}

int pick_at(int x, int y) {
    RwClump* instance = g_ports.instance_at(x, y);
    if (log_on(Trace::trace)) log_write("pick_at (%d, %d)%s", x, y, instance ? "" : ": nothing there");
    if (!instance) {
        pick_off();
        return 0;
    }
    if (s.obj && instance == instance_of(s.obj)) {
        pick_off();
        return 1;
    }
    deselect();
    int16_t cell_x = 0, cell_z = 0;
    object* o = nullptr;
    if (!visible_ignore(instance, &cell_x, &cell_z, &o) || !o) {
        pick_off();
        return 0;
    }
    visible_reveal_on();
    take(o, cell_x, cell_z, false);
    return 1;
}

void pick_off() {
    if (s.obj) {
        deselect();
        key_clear_all();
    }
    visible_reveal_off();
    object_window().focus_view();
}

}  // namespace zk
