#include "view/collision.h"

#include <cmath>
#include <cstdint>
#include <vector>

#include "core/log.h"
#include "render/clump.h"
#include "view/self.h"
#include "world/cell.h"
#include "world/visible.h"

namespace zk {

namespace {

CollisionHooks g_hooks;
object* g_last_bumped = nullptr;
bool g_interrupted = false;

// The box under test: where its unit space begins and how it scales.
struct Box {
    double x, cy, z;   // centre
    float h;
    RwV3 velocity;     // in unit space
};

// The figure's vertices in unit space, one clump at a time.
RwV3 g_points[collision_vertex_limit];

RwV3 to_unit(const Box& b, RwV3 p) {
    return {static_cast<float>((p.x - b.x) * 20.0), static_cast<float>((p.y - b.cy) / b.h),
            static_cast<float>((p.z - b.z) * 20.0)};
}

// Outside bits against the six faces, the twelve edge bevels and the eight
// corner bevels of the cube: a polygon whose points all share one bit lies
// wholly outside.
uint32_t face_code(RwV3 p) {
    uint32_t c = 0;
    if (p.x > 0.5f) c |= 0x01;
    if (p.x < -0.5f) c |= 0x02;
    if (p.y > 0.5f) c |= 0x04;
    if (p.y < -0.5f) c |= 0x08;
    if (p.z > 0.5f) c |= 0x10;
    if (p.z < -0.5f) c |= 0x20;
    return c;
}

uint32_t bevel_code(RwV3 p) {
    uint32_t c = 0;
    if (p.x + p.y > 1.0f) c |= 0x001;
    if (p.x - p.y > 1.0f) c |= 0x002;
    if (-p.x + p.y > 1.0f) c |= 0x004;
    if (-p.x - p.y > 1.0f) c |= 0x008;
    if (p.x + p.z > 1.0f) c |= 0x010;
    if (p.x - p.z > 1.0f) c |= 0x020;
    if (-p.x + p.z > 1.0f) c |= 0x040;
    if (-p.x - p.z > 1.0f) c |= 0x080;
    if (p.y + p.z > 1.0f) c |= 0x100;
    if (p.y - p.z > 1.0f) c |= 0x200;
    if (-p.y + p.z > 1.0f) c |= 0x400;
    if (-p.y - p.z > 1.0f) c |= 0x800;
    for (int i = 0; i < 8; ++i) {
        float s = ((i & 1) ? -p.x : p.x) + ((i & 2) ? -p.y : p.y) + ((i & 4) ? -p.z : p.z);
        if (s > 1.5f) c |= 0x1000u << i;
    }
    return c;
}

// Whether the segment a-b meets the cube (slab clipping).
bool segment_hits_cube(RwV3 a, RwV3 b) {
    float t0 = 0, t1 = 1;
    const float from[3] = {a.x, a.y, a.z}, d[3] = {b.x - a.x, b.y - a.y, b.z - a.z};
    for (int k = 0; k < 3; ++k) {
        if (std::fabs(d[k]) < 1e-12f) {
            if (from[k] < -0.5f || from[k] > 0.5f) return false;
            continue;
        }
        float ta = (-0.5f - from[k]) / d[k], tb = (0.5f - from[k]) / d[k];
        if (ta > tb) std::swap(ta, tb);
        if (ta > t0) t0 = ta;
        if (tb < t1) t1 = tb;
        if (t0 > t1) return false;
    }
    return true;
}

RwV3 newell(const RwV3* p, size_t n) {
    RwV3 r{};
    for (size_t k = 0; k < n; ++k) {
        const RwV3 a = p[k], b = p[(k + 1) % n];
        r.x += (a.y - b.y) * (a.z + b.z);
        r.y += (a.z - b.z) * (a.x + b.x);
        r.z += (a.x - b.x) * (a.y + b.y);
    }
    return r;
}

// Crossing test in the plane that drops the normal's largest axis.
bool point_in_polygon(RwV3 q, const RwV3* p, size_t n, RwV3 normal) {
    const float ax = std::fabs(normal.x), ay = std::fabs(normal.y), az = std::fabs(normal.z);
    auto uv = [&](RwV3 v, float* u, float* w) {
        if (ax >= ay && ax >= az) *u = v.y, *w = v.z;
        else if (ay >= az) *u = v.x, *w = v.z;
        else *u = v.x, *w = v.y;
    };
    float qu, qv;
    uv(q, &qu, &qv);
    bool inside = false;
    for (size_t i = 0, j = n - 1; i < n; j = i++) {
        float iu, iv, ju, jv;
        uv(p[i], &iu, &iv);
        uv(p[j], &ju, &jv);
        if ((iv > qv) != (jv > qv) && qu < (ju - iu) * (qv - iv) / (jv - iv) + iu) inside = !inside;
    }
    return inside;
}

// One polygon given by indices into the unit-space points.
bool polygon_hits(const Box& b, const RwV3* points, const uint32_t* index, size_t n) {
    if (n < 3 || n > 256) return false;
    RwV3 local[256];
    for (size_t k = 0; k < n; ++k) local[k] = points[index[k]];
    const RwV3 normal = newell(local, n);
    if (dot(b.velocity, normal) >= 0) return false;  // moving away from it or along it
    return collision_polygon_hits_cube(local, n);
}

// The six faces of a box, each wound so that its normal points outwards.
constexpr uint32_t kBoxFaces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                                      {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};

bool clump_hits(const Box& b, const RwClump* c) {
    const RwMatrix m = rw_clump_world_matrix(c);
    if (c->vertices.size() <= collision_vertex_limit) {
        // Points that all lie beyond one face of the cube cannot touch it:
        // most figures around the user end here.
        uint32_t shared = ~0u;
        for (size_t i = 0; i < c->vertices.size(); ++i) {
            g_points[i] = to_unit(b, transform_point(m, c->vertices[i].p));
            shared &= face_code(g_points[i]);
        }
        if (shared) return false;
        for (const RwPolygon& p : c->polygons) {
            bool valid = true;
            for (uint32_t v : p.v) valid = valid && v < c->vertices.size();
            if (valid && polygon_hits(b, g_points, p.v.data(), p.v.size())) return true;
        }
        return false;
    }
    // A busy figure is tested as the box of its extent.
    const RwBox box = rw_clump_bbox(c);
    if (box.empty) return false;
    for (int i = 0; i < 8; ++i) {
        RwV3 corner{(i & 1) ? box.max.x : box.min.x, (i & 2) ? box.max.y : box.min.y, (i & 4) ? box.max.z : box.min.z};
        g_points[i] = to_unit(b, transform_point(m, corner));
    }
    for (const auto& face : kBoxFaces)
        if (polygon_hits(b, g_points, face, 4)) return true;
    return false;
}

bool figure_hits(const Box& b, const RwClump* clump) {
    bool hit = false;
    rw_clump_for_all(const_cast<RwClump*>(clump), [&](RwClump* c) {
        // Hidden figures stop the user too: an invisible wall is still a wall.
        hit = clump_hits(b, c);
        return !hit;
    });
    return hit;
}

}  // namespace

bool collision_polygon_hits_cube(const RwV3* p, size_t n) {
    if (n < 3) return false;
    // A damaged model's stray numbers must not count as touching.
    for (size_t k = 0; k < n; ++k)
        if (!std::isfinite(p[k].x) || !std::isfinite(p[k].y) || !std::isfinite(p[k].z)) return false;
    uint32_t all_faces = ~0u, all_bevels = ~0u;
    for (size_t k = 0; k < n; ++k) {
        const uint32_t f = face_code(p[k]);
        if (f == 0) return true;  // a corner of the polygon lies inside
        all_faces &= f;
        all_bevels &= bevel_code(p[k]);
    }
    if (all_faces || all_bevels) return false;
    for (size_t k = 0; k < n; ++k)
        if (segment_hits_cube(p[k], p[(k + 1) % n])) return true;

    // The cube may still pierce the polygon's inside: the cube diagonal most
    // nearly along the normal meets the plane inside both.
    const RwV3 normal = newell(p, n);
    static const RwV3 diagonals[4] = {{1, 1, 1}, {1, 1, -1}, {1, -1, 1}, {-1, 1, 1}};
    RwV3 best{};
    float best_dot = 0;
    for (const RwV3& d : diagonals) {
        const float s = dot(d, normal);
        if (std::fabs(s) > std::fabs(best_dot)) best_dot = s, best = d;
    }
    if (best_dot == 0) return false;
    const float t = dot(normal, p[0]) / best_dot;
    if (t < -0.5f || t > 0.5f) return false;
    return point_in_polygon(best * t, p, n, normal);
}

bool collision_figure_hits(const RwClump* clump, double x, double y, double z, float h, RwV3 velocity, float lift) {
    if (!clump) return false;
    if (!(h >= collision_min_height)) h = collision_min_height;
    const Box b{x, y + h / 2 + lift, z, h, {velocity.x * 20.0f, velocity.y / h, velocity.z * 20.0f}};
    return figure_hits(b, clump);
}

CollisionHooks& collision_hooks() { return g_hooks; }

int collision_test_items(const CollisionItem* items, size_t count, double x, double y, double z, RwV3 velocity,
                         float height) {
    g_interrupted = false;
    object* touched = nullptr;  // the last non-solid object passed through
    for (size_t i = 0; i < count; ++i) {
        const CollisionItem& it = items[i];
        if (!it.clump) continue;
        if (!it.obj) {
            // The ground: the box is lowered by how far its surface lies
            // below zero.
            float lift = 0;
            if (!it.clump->vertices.empty()) {
                const float gy = transform_point(rw_clump_world_matrix(it.clump), it.clump->vertices[0].p).y;
                if (gy < 0) lift = gy;
            }
            if (collision_figure_hits(it.clump, x, y, z, height, velocity, lift)) return 1;
            continue;
        }
        if (!collision_figure_hits(it.clump, x, y, z, height, velocity)) continue;
        if (it.obj != g_last_bumped) {
            g_last_bumped = it.obj;
            if (g_hooks.bump) g_hooks.bump(it.obj);
            if (g_interrupted || (g_hooks.automatic_move && g_hooks.automatic_move())) return 1;
        }
        g_last_bumped = it.obj;
        const bool solid = g_hooks.solid ? g_hooks.solid(it.obj) : object_solid(it.obj);
        if (solid) return 1;
        touched = it.obj;
    }
    g_last_bumped = touched;
    return 0;
}

int collision_test(double x, double y, double z, RwV3 velocity) {
    float h = self_model_height();
    if (!(h >= collision_min_height)) h = collision_min_height;

    // Gathered first, so a trigger that changes the cells cannot pull the
    // list from under the test.
    static std::vector<CollisionItem> items;
    items.clear();
    if (g_hooks.ground) {
        if (const RwClump* g = g_hooks.ground()) items.push_back({nullptr, g});
    }
    const int cx = cell_index(x), cz = cell_index(z);
    for (int dz = -1; dz <= 1; ++dz) {
        for (int dx = -1; dx <= 1; ++dx) {
            if (g_hooks.cell_items) {
                g_hooks.cell_items(cx + dx, cz + dz, &items);
                continue;
            }
            visible_start(cx + dx, cz + dz);
            for (int guard = 0; guard < 4096; ++guard) {
                object* o = nullptr;
                RwClump* c = visible_next(&o);
                if (!c && !o) break;
                if (c && o) items.push_back({o, c});
            }
        }
    }
    return collision_test_items(items.data(), items.size(), x, y, z, velocity, h);
}

void collision_interrupt_move() { g_interrupted = true; }
bool collision_move_interrupted() { return g_interrupted; }
void collision_forget() { g_last_bumped = nullptr; }
const object* collision_last_bumped() { return g_last_bumped; }

void collision_recompute() {
    if (log_on(Trace::trace)) log_write("collision_recompute");
    g_last_bumped = nullptr;
    // A reset inside a "bump" trigger has destroyed the figures the running
    // test gathered: it must not look at the rest of them.
    g_interrupted = true;
}

}  // namespace zk
