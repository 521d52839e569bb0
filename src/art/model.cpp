#include "art/model.h"

#include <new>

#include "core/log.h"
#include "render/clump.h"
#include "render/math.h"
#include "world/cell.h"

namespace zk {

struct model_ref {
    RwClump* clump = nullptr;
    bool hidden = false;
    bool pending = true;       // waiting for model_flush to enter the scene
    model_ref* next_pending = nullptr;
};

namespace {

RwClump* g_placeholder = nullptr;
RwScene* g_scene = nullptr;
int64_t g_references = 0;
// New references, newest first, until the next flush.
model_ref* g_pending = nullptr;

RwClump* build_placeholder() {
    RwClump* c = rw_clump_create();
    if (!c) return nullptr;
    c->name = "placeholder";
    c->vertices = {{RwV3{-0.02f, 0, 0}}, {RwV3{0.02f, 0, 0}}, {RwV3{0, 0.02f, 0}}};
    RwMaterial m;
    m.r = m.g = m.b = 0.8f;
    m.ambient = 0.5f;
    m.material_modes = rw_material_double;  // seen from both sides
    c->materials.push_back(m);
    c->polygons.push_back(RwPolygon{{0, 1, 2}, 0, 0});
    rw_clump_changed(c);
    return c;
}

void unlink_pending(model_ref* ref) {
    for (model_ref** p = &g_pending; *p; p = &(*p)->next_pending) {
        if (*p == ref) {
            *p = ref->next_pending;
            break;
        }
    }
    ref->next_pending = nullptr;
    ref->pending = false;
}

}  // namespace

bool model_init() {
    if (log_on(Trace::trace)) log_write("model_init");
    if (!g_placeholder) g_placeholder = build_placeholder();
    return g_placeholder != nullptr;
}

void model_term() {
    rw_clump_destroy(g_placeholder);
    g_placeholder = nullptr;
}

void advanced_init() {
    if (log_on(Trace::trace)) log_write("advanced_init");
}

void model_empty_cache() {
    if (log_on(Trace::trace)) log_write("model_empty_cache");
}

void model_set_scene(RwScene* scene) { g_scene = scene; }
RwScene* model_scene() { return g_scene; }

model_ref* model_reference(const std::string&) {
    if (!g_placeholder) return nullptr;
    model_ref* ref = new (std::nothrow) model_ref;
    if (!ref) return nullptr;
    ref->clump = rw_clump_duplicate(g_placeholder);
    if (!ref->clump) {
        delete ref;
        return nullptr;
    }
    ref->next_pending = g_pending;
    g_pending = ref;
    ++g_references;
    return ref;
}

void model_dereference(model_ref* ref) {
    if (!ref) return;
    if (ref->pending) unlink_pending(ref);
    rw_clump_destroy(ref->clump);  // leaves the scene first
    delete ref;
    --g_references;
}

void model_place(model_ref* ref, double x, double y, double z, float yaw) {
    if (!ref || !ref->clump) return;
    const RwMatrix m = matrix_translation(float(x), float(y), float(z)) * matrix_rotation(RwV3{0, 1, 0}, yaw);
    rw_clump_transform(ref->clump, m);
}

RwClump* model_clump(const model_ref* ref) { return ref ? ref->clump : nullptr; }

void model_hide(model_ref* ref) {
    if (!ref || ref->hidden) return;
    if (ref->clump->scene) rw_scene_remove_clump(ref->clump);
    ref->hidden = true;
}

void model_show(model_ref* ref) {
    if (!ref || !ref->hidden) return;
    ref->hidden = false;
    // A reference still waiting for the flush enters the scene with it.
    if (!ref->pending && g_scene) rw_scene_add_clump(g_scene, ref->clump);
}

bool model_hidden(const model_ref* ref) { return ref && ref->hidden; }

void model_flush() {
    while (model_ref* ref = g_pending) {
        unlink_pending(ref);
        if (!ref->hidden && g_scene && !ref->clump->scene) rw_scene_add_clump(g_scene, ref->clump);
    }
}

int64_t model_reference_count() { return g_references; }

const RwClump* model_placeholder() { return g_placeholder; }

}  // namespace zk
