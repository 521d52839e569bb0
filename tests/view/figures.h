// Figures for collision tests, built directly with the rendering library.
#pragma once

#include <memory>
#include <vector>

#include "render/clump.h"

namespace zk::test {

struct ClumpDeleter {
    void operator()(RwClump* c) const { rw_clump_destroy(c); }
};
using ClumpPtr = std::unique_ptr<RwClump, ClumpDeleter>;

// A clump of `corners` with one polygon for each list of indices in `faces`.
inline ClumpPtr make_clump(const std::vector<RwV3>& corners, const std::vector<std::vector<uint32_t>>& faces) {
    ClumpPtr c(rw_clump_create());
    c->materials.emplace_back();
    for (const RwV3& p : corners) c->vertices.push_back({p});
    for (const auto& f : faces) {
        RwPolygon p;
        p.v = f;
        c->polygons.push_back(p);
    }
    return c;
}

// A closed box from (x0, y0, z0) to (x1, y1, z1), its faces wound outwards.
inline ClumpPtr make_box(float x0, float y0, float z0, float x1, float y1, float z1) {
    std::vector<RwV3> corners;
    for (int i = 0; i < 8; ++i) corners.push_back({(i & 1) ? x1 : x0, (i & 2) ? y1 : y0, (i & 4) ? z1 : z0});
    // -z, +z, -y, +y, -x, +x
    return make_clump(corners, {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}});
}

// A square floor at height y facing up, `half` units around (x, z).
inline ClumpPtr make_floor(float x, float y, float z, float half) {
    const float x0 = x - half, x1 = x + half, z0 = z - half, z1 = z + half;
    return make_clump({{x0, y, z0}, {x0, y, z1}, {x1, y, z1}, {x1, y, z0}}, {{0, 1, 2, 3}});
}

// A thin wall (one quad in the plane z = `z`, facing -z) from x0 to x1 and y0 to y1.
inline ClumpPtr make_wall(float x0, float x1, float y0, float y1, float z) {
    return make_clump({{x0, y0, z}, {x0, y1, z}, {x1, y1, z}, {x1, y0, z}}, {{0, 1, 2, 3}});
}

}  // namespace zk::test
