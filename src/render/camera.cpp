#include "render/camera.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "render/device.h"

namespace zk {

namespace {
uint64_t g_serial = 0;

void clear_overlays(RwCamera* c) {
    for (RwOverlay& o : c->overlays) rw_raster_destroy(o.raster);
    c->overlays.clear();
}
}  // namespace

RwCamera* rw_camera_create(int width, int height) {
    if (width < 1 || height < 1 || width > kRasterMaxSide || height > kRasterMaxSide) return nullptr;
    auto* c = new RwCamera;
    c->width = width;
    c->height = height;
    c->viewport = {0, 0, width, height};
    c->serial = ++g_serial;
    return c;
}

void rw_camera_destroy(RwCamera* c) {
    if (!c) return;
    if (RwDevice* d = rw_device()) d->camera_destroyed(c->serial);
    clear_overlays(c);
    delete c;
}

void rw_camera_set_viewport(RwCamera* c, int x, int y, int w, int h) {
    if (!c) return;
    // The viewport stays inside the camera's image.
    x = std::clamp(x, 0, c->width);
    y = std::clamp(y, 0, c->height);
    c->viewport = {x, y, std::clamp(w, 0, c->width - x), std::clamp(h, 0, c->height - y)};
}

void rw_camera_set_view_window(RwCamera* c, float w, float h) {
    if (c && w > 0 && h > 0 && std::isfinite(w) && std::isfinite(h)) {
        c->window_w = w;
        c->window_h = h;
    }
}

void rw_camera_set_near(RwCamera* c, float d) {
    if (c && d > 0 && std::isfinite(d)) c->near_plane = d;
}

void rw_camera_set_background(RwCamera* c, float r, float g, float b) {
    if (!c) return;
    c->bg_r = std::clamp(r, 0.0f, 1.0f);
    c->bg_g = std::clamp(g, 0.0f, 1.0f);
    c->bg_b = std::clamp(b, 0.0f, 1.0f);
}

void rw_camera_set_backdrop(RwCamera* c, const RwRaster* r) {
    if (c) c->backdrop = r;
}
void rw_camera_set_backdrop_offset(RwCamera* c, int x, int y) {
    if (c) c->backdrop_offset_x = x, c->backdrop_offset_y = y;
}
void rw_camera_set_backdrop_rect(RwCamera* c, int x, int y, int w, int h) {
    if (c) c->backdrop_rect = {x, y, w, h};
}

void rw_camera_set_matrix(RwCamera* c, const RwMatrix& m) {
    if (c && matrix_finite(m)) c->matrix = m;
}

RwV3 rw_camera_position(const RwCamera* c) {
    if (!c) return {};
    return {c->matrix.at(0, 3), c->matrix.at(1, 3), c->matrix.at(2, 3)};
}

RwV3 rw_camera_look_at(const RwCamera* c) {
    if (!c) return {0, 0, 1};
    return normalize(RwV3{c->matrix.at(0, 2), c->matrix.at(1, 2), c->matrix.at(2, 2)});
}

bool rw_camera_begin_update(RwCamera* c) {
    if (!c || c->updating) return false;
    c->updating = true;
    clear_overlays(c);
    if (RwDevice* d = rw_device()) return d->begin_update(*c);
    return true;
}

void rw_camera_clear(RwCamera* c) {
    if (!c || !c->updating) return;
    if (RwDevice* d = rw_device()) d->clear(*c);
}

void rw_camera_render(RwCamera* c, RwScene* s) {
    if (!c || !s || !c->updating) return;
    if (RwDevice* d = rw_device()) d->render(*c, *s);
}

void rw_camera_end_update(RwCamera* c) {
    if (!c || !c->updating) return;
    if (RwDevice* d = rw_device()) d->end_update(*c);
    c->updating = false;
}

void rw_camera_show(RwCamera* c) {
    if (!c) return;
    if (RwDevice* d = rw_device()) d->show(*c, false);
}

void rw_camera_stretch(RwCamera* c) {
    if (!c) return;
    if (RwDevice* d = rw_device()) d->show(*c, true);
}

void rw_camera_add_overlay(RwCamera* c, RwRaster* r, int x, int y) {
    if (!c || !r) {
        rw_raster_destroy(r);
        return;
    }
    c->overlays.push_back({r, x, y});
}

RwMatrix rw_camera_view_matrix(const RwCamera* c) {
    // The camera looks down its +z axis; OpenGL's eye looks down -z. A half
    // turn about y maps one onto the other without mirroring the world.
    RwMatrix flip = matrix_scale(-1, 1, -1);
    return flip * matrix_inverse(c ? c->matrix : RwMatrix{});
}

RwMatrix rw_camera_projection(const RwCamera* c) {
    RwMatrix p;
    const float n = c->near_plane, f = std::max(c->far_plane, n * 2);
    p.at(0, 0) = 1.0f / c->window_w;
    p.at(1, 1) = 1.0f / c->window_h;
    p.at(2, 2) = -(f + n) / (f - n);
    p.at(2, 3) = -2 * f * n / (f - n);
    p.at(3, 2) = -1;
    p.at(3, 3) = 0;
    return p;
}

bool rw_camera_project(const RwCamera* c, RwV3 world, float* x, float* y) {
    if (!c) return false;
    RwV3 local = transform_point(matrix_inverse(c->matrix), world);
    if (local.z < c->near_plane) return false;
    // Camera space has +x to the left of the view.
    const float nx = -local.x / (local.z * c->window_w), ny = local.y / (local.z * c->window_h);
    if (x) *x = (nx + 1) * 0.5f * float(c->viewport.width);
    if (y) *y = (1 - ny) * 0.5f * float(c->viewport.height);
    return true;
}

namespace {

// Ray against one triangle (both sides); distance along the ray or < 0.
float ray_triangle(RwV3 o, RwV3 d, RwV3 a, RwV3 b, RwV3 c) {
    const RwV3 e1 = b - a, e2 = c - a, p = cross(d, e2);
    const float det = dot(e1, p);
    if (std::fabs(det) < 1e-12f) return -1;
    const float inv = 1.0f / det;
    const RwV3 s = o - a;
    const float u = dot(s, p) * inv;
    if (u < 0 || u > 1) return -1;
    const RwV3 q = cross(s, e1);
    const float v = dot(d, q) * inv;
    if (v < 0 || u + v > 1) return -1;
    return dot(e2, q) * inv;
}

void pick_clump(RwClump* clump, const RwMatrix& parent, RwV3 o, RwV3 d, float near_limit, RwPick& best) {
    if (clump->hidden) return;
    const RwMatrix world = parent * clump->matrix;
    // Test in the clump's own space: the ray is taken there instead of
    // every vertex into the world.
    const RwMatrix inv = matrix_inverse(world);
    const RwV3 lo = transform_point(inv, o), ld = transform_vector(inv, d);
    for (size_t i = 0; i < clump->polygons.size(); ++i) {
        const RwPolygon& p = clump->polygons[i];
        if (p.v.size() < 3) continue;
        const RwV3 a = clump->vertices[p.v[0]].p;
        for (size_t k = 1; k + 1 < p.v.size(); ++k) {
            float t = ray_triangle(lo, ld, a, clump->vertices[p.v[k]].p, clump->vertices[p.v[k + 1]].p);
            if (t >= near_limit && (!best.clump || t < best.distance)) {
                best.clump = clump;
                best.polygon = int(i);
                best.tag = p.tag;
                best.distance = t;
                best.point = o + d * t;
            }
        }
    }
    for (RwClump* child : clump->children) pick_clump(child, world, o, d, near_limit, best);
}

}  // namespace

bool rw_camera_pick(const RwCamera* c, const RwScene* s, int x, int y, RwPick* pick) {
    if (pick) *pick = RwPick{};
    if (!c || !s || c->viewport.width <= 0 || c->viewport.height <= 0) return false;
    if (x < 0 || y < 0 || x >= c->viewport.width || y >= c->viewport.height) return false;
    // The ray through the pixel's centre, in camera space then in the world.
    const float nx = (float(x) + 0.5f) / float(c->viewport.width) * 2 - 1;
    const float ny = 1 - (float(y) + 0.5f) / float(c->viewport.height) * 2;
    const RwV3 dir_cam{-nx * c->window_w, ny * c->window_h, 1};
    const RwV3 o = rw_camera_position(c);
    const RwV3 d = transform_vector(c->matrix, dir_cam);
    RwPick best;
    // With the direction scaled so that its camera z is 1, t is the depth.
    for (RwClump* clump : s->clumps) pick_clump(clump, RwMatrix{}, o, d, c->near_plane, best);
    if (!best.clump) return false;
    best.distance *= length(d);
    if (pick) *pick = best;
    return true;
}

namespace {

// A word at a time, multiplied and folded: cheap for tens of thousands of
// clumps a frame, and a collision would need two different views to meet
// in 64 bits.
struct Digest {
    uint64_t h = 1469598103934665603ull;
    void add(uint64_t v) {
        h = (h ^ v) * 0x9E3779B97F4A7C15ull;
        h ^= h >> 29;
    }
    void add(float f) {
        uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        add(uint64_t{bits});
    }
    void add(const RwMatrix& m) {
        for (float f : m.m) add(f);
    }
};

void add_raster(Digest& d, const RwRaster* r) {
    d.add(r ? r->serial : 0);
    d.add(uint64_t{r ? r->version : 0});
}

void add_clump(Digest& d, const RwClump* c) {
    d.add(c->serial);
    d.add(uint64_t{c->version} << 1 | (c->hidden ? 1 : 0));
    d.add(c->matrix);
    for (const RwMaterial& m : c->materials) {
        const RwTexture* t = m.texture;
        if (!t) continue;
        d.add(t->serial);
        d.add(uint64_t{t->version} << 32 | uint32_t(t->frame));
        add_raster(d, t->raster);
        add_raster(d, t->mask);
    }
    for (const RwClump* child : c->children) add_clump(d, child);
}

}  // namespace

uint64_t rw_camera_view_signature(const RwCamera* c, const RwScene* s) {
    Digest d;
    if (!c) return 0;
    d.add(c->serial);
    d.add(rw_device_generation());
    d.add(uint64_t(c->width) << 32 | uint32_t(c->height));
    d.add(uint64_t(c->viewport.x) << 48 ^ uint64_t(c->viewport.y) << 32 ^ uint64_t(c->viewport.width) << 16 ^
          uint64_t(c->viewport.height));
    for (float f : {c->window_w, c->window_h, c->near_plane, c->far_plane, c->bg_r, c->bg_g, c->bg_b}) d.add(f);
    add_raster(d, c->backdrop);
    d.add(uint64_t(uint32_t(c->backdrop_offset_x)) << 32 | uint32_t(c->backdrop_offset_y));
    d.add(uint64_t(uint32_t(c->backdrop_rect.x)) << 32 | uint32_t(c->backdrop_rect.y));
    d.add(uint64_t(uint32_t(c->backdrop_rect.width)) << 32 | uint32_t(c->backdrop_rect.height));
    d.add(c->matrix);
    if (!s) return d.h;
    d.add(uint64_t{s->version});
    d.add(s->ambient);
    for (const RwLight& l : s->lights) {
        d.add(uint64_t(l.kind));
        for (float f : {l.brightness, l.direction.x, l.direction.y, l.direction.z}) d.add(f);
    }
    d.add(uint64_t{s->clumps.size()});
    for (const RwClump* c2 : s->clumps) add_clump(d, c2);
    return d.h;
}

}  // namespace zk
