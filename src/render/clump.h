// Clumps: a transform, child clumps, vertices and polygons with materials
// and tags; scenes hold clumps and lights.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "render/math.h"
#include "render/texture.h"

namespace zk {

enum class RwLightSampling : uint8_t { facet = 0, vertex = 1 };
enum class RwGeometrySampling : uint8_t { solid = 0, wireframe = 1, pointcloud = 2 };
enum RwTextureMode : uint8_t { rw_texture_lit = 1, rw_texture_foreshorten = 2, rw_texture_filter = 4 };
enum RwMaterialMode : uint8_t { rw_material_double = 1 };
enum class RwAxisAlignment : uint8_t { none = 0, zorient_x = 1, zorient_xy = 2 };

// Tags that callers give meaning to.
constexpr int kTagSign = 100;
constexpr int kTagPicture = 200;

struct RwMaterial {
    float r = 0, g = 0, b = 0;
    float ambient = 0, diffuse = 1, specular = 0;
    float opacity = 1;
    RwLightSampling light = RwLightSampling::facet;
    RwGeometrySampling geometry = RwGeometrySampling::solid;
    uint8_t texture_modes = rw_texture_lit;
    uint8_t material_modes = 0;
    std::string texture_name;   // kept even when no texture was found for it
    std::string mask_name;
    RwTexture* texture = nullptr;  // one reference held by the material

    bool same_look(const RwMaterial& o) const;
};

struct RwVertex {
    RwV3 p;
    float u = 0, v = 0;
};

struct RwPolygon {
    std::vector<uint32_t> v;   // indices into the clump's vertices
    uint32_t material = 0;     // index into the clump's materials
    int tag = 0;
};

struct RwScene;

struct RwClump {
    std::string name;
    int tag = 0;
    RwMatrix matrix;                    // relative to the parent
    RwAxisAlignment alignment = RwAxisAlignment::none;
    std::vector<RwVertex> vertices;
    std::vector<RwMaterial> materials;
    std::vector<RwPolygon> polygons;
    std::vector<RwClump*> children;     // owned
    RwClump* parent = nullptr;
    RwScene* scene = nullptr;           // set on the root while in a scene
    bool hidden = false;
    uint64_t serial = 0;
    uint32_t version = 1;               // bumped by geometry and material changes
    // Names the vertices, polygons and materials: a duplicate keeps its
    // template's until either changes, so the two can share GPU buffers.
    uint64_t geometry = 0;
    void* user = nullptr;               // for the clump's owner
};

RwClump* rw_clump_create();
// Destroys the clump and its children, releasing their textures; a clump
// in a scene is removed from it first, a child is detached from its parent.
void rw_clump_destroy(RwClump* clump);
// A deep copy independent of the template (textures are shared by reference).
RwClump* rw_clump_duplicate(const RwClump* clump);
void rw_clump_add_child(RwClump* parent, RwClump* child);
// Marks the clump's geometry or materials as changed.
void rw_clump_changed(RwClump* clump);

enum class RwCombine { replace, preconcat, postconcat };
void rw_clump_transform(RwClump* clump, const RwMatrix& m, RwCombine how = RwCombine::replace);
RwMatrix rw_clump_matrix(const RwClump* clump);
// Parent transforms applied: object to world.
RwMatrix rw_clump_world_matrix(const RwClump* clump);

struct RwBox {
    RwV3 min, max;
    bool empty = true;
    void add(RwV3 p);
};
// The box of the clump's own vertices in its own space.
RwBox rw_clump_bbox(const RwClump* clump);
// The box of the clump and its descendants in the clump's own space.
RwBox rw_clump_hierarchy_bbox(const RwClump* clump);

// Walks the clump and every descendant, parents first. A callback
// answering false stops the walk; the walk answers false then.
template <class F>
bool rw_clump_for_all(RwClump* clump, F&& f) {
    if (!clump) return true;
    if (!f(clump)) return false;
    for (RwClump* c : clump->children)
        if (!rw_clump_for_all(c, f)) return false;
    return true;
}
template <class F>
bool rw_clump_for_all_polygons(RwClump* clump, F&& f) {
    return rw_clump_for_all(clump, [&](RwClump* c) {
        for (size_t i = 0; i < c->polygons.size(); ++i)
            if (!f(c, i)) return false;
        return true;
    });
}

// Gives one polygon its own material with `texture` (none clears it).
bool rw_polygon_set_texture(RwClump* clump, size_t polygon, RwTexture* texture);
// Sets the texture of every polygon in the hierarchy with that tag.
int rw_clump_set_tag_texture(RwClump* clump, int tag, RwTexture* texture);
// Drops every texture of the hierarchy (texture names are kept).
void rw_clump_strip_textures(RwClump* clump);
void rw_clump_hide(RwClump* clump);
void rw_clump_show(RwClump* clump);
int64_t rw_clump_count();

// Lights and scenes.
enum class RwLightKind { directional, ambient };
struct RwLight {
    RwLightKind kind = RwLightKind::directional;
    float brightness = 1;
    RwV3 direction{0, -1, 0};   // the way the light travels
};

struct RwScene {
    std::vector<RwClump*> clumps;   // roots, not owned
    std::vector<RwLight> lights;
    float ambient = 0.3f;
    uint32_t version = 1;
};

RwScene* rw_scene_create();
// Removes (not destroys) the clumps that are still in it.
void rw_scene_destroy(RwScene* scene);
bool rw_scene_add_clump(RwScene* scene, RwClump* clump);
bool rw_scene_remove_clump(RwClump* clump);
void rw_scene_add_light(RwScene* scene, const RwLight& light);
void rw_scene_set_ambient(RwScene* scene, float brightness);

}  // namespace zk
