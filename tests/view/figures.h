// Figures for collision tests, built directly with the rendering library.
#pragma once

#include <memory>

#include "render/clump.h"

namespace zk::test {

struct ClumpDeleter {
    void operator()(RwClump* c) const { rw_clump_destroy(c); }
};
using ClumpPtr = std::unique_ptr<RwClump, ClumpDeleter>;

// A closed box from (x0, y0, z0) to (x1, y1, z1), its faces wound outwards.
ClumpPtr make_box(float x0, float y0, float z0, float x1, float y1, float z1);
// A square floor at height y facing up, `half` units around (x, z).
ClumpPtr make_floor(float x, float y, float z, float half);
// A thin wall (one quad in the plane z = `z`, facing -z) from x0 to x1 and
// y0 to y1; `extra` unused vertices are added to the clump.
ClumpPtr make_wall(float x0, float x1, float y0, float y1, float z, int extra = 0);

}  // namespace zk::test
