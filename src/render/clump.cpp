#include "render/clump.h"

#include <algorithm>
#include <unordered_map>

#include "render/device.h"

namespace zk {

namespace {
uint64_t g_serial = 0;
int64_t g_live = 0;
RwDevice* g_device = nullptr;
uint64_t g_device_generation = 0;

uint64_t g_geometry = 0;

// How many clumps show each geometry; the device drops its buffers for one
// when the last goes. Never freed: other objects' destructors may still
// destroy clumps at exit.
std::unordered_map<uint64_t, uint32_t>& geometry_users() {
    static auto* users = new std::unordered_map<uint64_t, uint32_t>;
    return *users;
}

void set_geometry(RwClump* c, uint64_t id) {
    auto& users = geometry_users();
    auto it = users.find(c->geometry);
    if (it != users.end() && --it->second == 0) {
        users.erase(it);
        if (g_device) g_device->geometry_released(c->geometry);
    }
    c->geometry = id;
    if (id) ++users[id];
}

void release_materials(RwClump* c) {
    for (RwMaterial& m : c->materials) {
        rw_texture_destroy(m.texture);
        m.texture = nullptr;
    }
}

RwClump* root_of(RwClump* c) {
    while (c && c->parent) c = c->parent;
    return c;
}

void bump_scene(RwClump* c) {
    RwClump* root = root_of(c);
    if (root && root->scene) ++root->scene->version;
}

}  // namespace

void rw_set_device(RwDevice* device) {
    g_device = device;
    ++g_device_generation;
}
uint64_t rw_device_generation() { return g_device_generation; }
RwDevice* rw_device() { return g_device; }

bool RwMaterial::same_look(const RwMaterial& o) const {
    return r == o.r && g == o.g && b == o.b && ambient == o.ambient && diffuse == o.diffuse &&
           specular == o.specular && opacity == o.opacity && light == o.light && geometry == o.geometry &&
           texture_modes == o.texture_modes && material_modes == o.material_modes &&
           texture_name == o.texture_name && mask_name == o.mask_name && texture == o.texture;
}

void RwBox::add(RwV3 p) {
    if (empty) {
        min = max = p;
        empty = false;
        return;
    }
    min = {std::min(min.x, p.x), std::min(min.y, p.y), std::min(min.z, p.z)};
    max = {std::max(max.x, p.x), std::max(max.y, p.y), std::max(max.z, p.z)};
}

RwClump* rw_clump_create() {
    auto* c = new RwClump;
    c->serial = ++g_serial;
    set_geometry(c, ++g_geometry);
    ++g_live;
    return c;
}

void rw_clump_destroy(RwClump* c) {
    if (!c) return;
    if (c->scene) rw_scene_remove_clump(c);
    if (c->parent) {
        auto& sib = c->parent->children;
        sib.erase(std::remove(sib.begin(), sib.end(), c), sib.end());
        ++c->parent->version;
        bump_scene(c->parent);
        c->parent = nullptr;
    }
    for (RwClump* child : c->children) {
        child->parent = nullptr;
        rw_clump_destroy(child);
    }
    c->children.clear();
    release_materials(c);
    set_geometry(c, 0);
    if (g_device) g_device->clump_destroyed(c->serial);
    --g_live;
    delete c;
}

RwClump* rw_clump_duplicate(const RwClump* src) {
    if (!src) return nullptr;
    RwClump* c = rw_clump_create();
    c->name = src->name;
    c->tag = src->tag;
    c->matrix = src->matrix;
    c->alignment = src->alignment;
    c->vertices = src->vertices;
    c->materials = src->materials;
    for (RwMaterial& m : c->materials) rw_texture_add_reference(m.texture);
    c->polygons = src->polygons;
    set_geometry(c, src->geometry);
    c->hidden = src->hidden;
    c->user = src->user;
    for (const RwClump* child : src->children) rw_clump_add_child(c, rw_clump_duplicate(child));
    return c;
}

void rw_clump_add_child(RwClump* parent, RwClump* child) {
    if (!parent || !child) return;
    // A clump never becomes a descendant of itself.
    for (const RwClump* p = parent; p; p = p->parent)
        if (p == child) return;
    if (child->scene) rw_scene_remove_clump(child);
    if (child->parent) {
        auto& sib = child->parent->children;
        sib.erase(std::remove(sib.begin(), sib.end(), child), sib.end());
    }
    child->parent = parent;
    parent->children.push_back(child);
    ++parent->version;
    bump_scene(parent);
}

void rw_clump_changed(RwClump* c) {
    if (!c) return;
    ++c->version;
    set_geometry(c, ++g_geometry);  // no longer what its duplicates show
    bump_scene(c);
}

void rw_clump_transform(RwClump* c, const RwMatrix& m, RwCombine how) {
    if (!c) return;
    switch (how) {
    case RwCombine::replace: c->matrix = m; break;
    case RwCombine::preconcat: c->matrix = c->matrix * m; break;
    case RwCombine::postconcat: c->matrix = m * c->matrix; break;
    }
    bump_scene(c);
}

RwMatrix rw_clump_matrix(const RwClump* c) { return c ? c->matrix : RwMatrix{}; }

RwMatrix rw_clump_world_matrix(const RwClump* c) {
    if (!c) return {};
    RwMatrix m = c->matrix;
    for (const RwClump* p = c->parent; p; p = p->parent) m = p->matrix * m;
    return m;
}

RwBox rw_clump_bbox(const RwClump* c) {
    RwBox box;
    if (c)
        for (const RwVertex& v : c->vertices) box.add(v.p);
    return box;
}

namespace {
void hierarchy_box(const RwClump* c, const RwMatrix& to_root, RwBox& box) {
    for (const RwVertex& v : c->vertices) box.add(transform_point(to_root, v.p));
    for (const RwClump* child : c->children) hierarchy_box(child, to_root * child->matrix, box);
}
}  // namespace

RwBox rw_clump_hierarchy_bbox(const RwClump* c) {
    RwBox box;
    if (c) hierarchy_box(c, RwMatrix{}, box);
    return box;
}

bool rw_polygon_set_texture(RwClump* c, size_t polygon, RwTexture* texture) {
    if (!c || polygon >= c->polygons.size()) return false;
    RwPolygon& p = c->polygons[polygon];
    if (p.material >= c->materials.size()) return false;
    RwMaterial want = c->materials[p.material];
    if (want.texture == texture) return true;
    want.texture = texture;
    if (texture) want.texture_name = texture->name;
    else want.texture_name.clear(), want.mask_name.clear();
    for (size_t i = 0; i < c->materials.size(); ++i)
        if (c->materials[i].same_look(want)) {
            p.material = uint32_t(i);
            rw_clump_changed(c);
            return true;
        }
    rw_texture_add_reference(texture);
    want.mask_name = texture ? want.mask_name : std::string();
    c->materials.push_back(want);
    p.material = uint32_t(c->materials.size() - 1);
    rw_clump_changed(c);
    return true;
}

int rw_clump_set_tag_texture(RwClump* clump, int tag, RwTexture* texture) {
    int n = 0;
    rw_clump_for_all_polygons(clump, [&](RwClump* c, size_t i) {
        if (c->polygons[i].tag == tag && rw_polygon_set_texture(c, i, texture)) ++n;
        return true;
    });
    return n;
}

void rw_clump_strip_textures(RwClump* clump) {
    rw_clump_for_all(clump, [](RwClump* c) {
        bool any = false;
        for (RwMaterial& m : c->materials)
            if (m.texture) {
                rw_texture_destroy(m.texture);
                m.texture = nullptr;
                any = true;
            }
        if (any) rw_clump_changed(c);
        return true;
    });
}

void rw_clump_hide(RwClump* c) {
    if (c && !c->hidden) {
        c->hidden = true;
        bump_scene(c);
    }
}

void rw_clump_show(RwClump* c) {
    if (c && c->hidden) {
        c->hidden = false;
        bump_scene(c);
    }
}

int64_t rw_clump_count() { return g_live; }

RwScene* rw_scene_create() { return new RwScene; }

void rw_scene_destroy(RwScene* s) {
    if (!s) return;
    for (RwClump* c : s->clumps) c->scene = nullptr;
    delete s;
}

bool rw_scene_add_clump(RwScene* s, RwClump* c) {
    if (!s || !c || c->parent) return false;
    if (c->scene == s) return true;
    if (c->scene) rw_scene_remove_clump(c);
    s->clumps.push_back(c);
    c->scene = s;
    ++s->version;
    return true;
}

bool rw_scene_remove_clump(RwClump* c) {
    if (!c || !c->scene) return false;
    auto& v = c->scene->clumps;
    auto it = std::find(v.begin(), v.end(), c);
    if (it != v.end()) {
        // Order among the others does not matter for drawing: swap-remove.
        *it = v.back();
        v.pop_back();
    }
    ++c->scene->version;
    c->scene = nullptr;
    return true;
}

void rw_scene_add_light(RwScene* s, const RwLight& light) {
    if (!s) return;
    if (light.kind == RwLightKind::ambient) s->ambient = light.brightness;
    else s->lights.push_back(light);
    ++s->version;
}

void rw_scene_set_ambient(RwScene* s, float brightness) {
    if (s) s->ambient = brightness;
}

}  // namespace zk
