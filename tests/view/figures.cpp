#include "view/figures.h"

namespace zk::test {

namespace {

void quad(RwClump* c, uint32_t a, uint32_t b, uint32_t d, uint32_t e) {
    RwPolygon p;
    p.v = {a, b, d, e};
    c->polygons.push_back(p);
}

}  // namespace

ClumpPtr make_box(float x0, float y0, float z0, float x1, float y1, float z1) {
    ClumpPtr c(rw_clump_create());
    c->materials.emplace_back();
    for (int i = 0; i < 8; ++i) {
        RwVertex v;
        v.p = {(i & 1) ? x1 : x0, (i & 2) ? y1 : y0, (i & 4) ? z1 : z0};
        c->vertices.push_back(v);
    }
    quad(c.get(), 0, 2, 3, 1);  // -z
    quad(c.get(), 4, 5, 7, 6);  // +z
    quad(c.get(), 0, 1, 5, 4);  // -y
    quad(c.get(), 2, 6, 7, 3);  // +y
    quad(c.get(), 0, 4, 6, 2);  // -x
    quad(c.get(), 1, 3, 7, 5);  // +x
    return c;
}

ClumpPtr make_floor(float x, float y, float z, float half) {
    ClumpPtr c(rw_clump_create());
    c->materials.emplace_back();
    const float xs[4] = {x - half, x - half, x + half, x + half}, zs[4] = {z - half, z + half, z + half, z - half};
    for (int i = 0; i < 4; ++i) {
        RwVertex v;
        v.p = {xs[i], y, zs[i]};
        c->vertices.push_back(v);
    }
    quad(c.get(), 0, 1, 2, 3);
    return c;
}

ClumpPtr make_wall(float x0, float x1, float y0, float y1, float z, int extra) {
    ClumpPtr c(rw_clump_create());
    c->materials.emplace_back();
    const float xs[4] = {x0, x0, x1, x1}, ys[4] = {y0, y1, y1, y0};
    for (int i = 0; i < 4; ++i) {
        RwVertex v;
        v.p = {xs[i], ys[i], z};
        c->vertices.push_back(v);
    }
    quad(c.get(), 0, 1, 2, 3);
    for (int i = 0; i < extra; ++i) {
        RwVertex v;
        v.p = {x0, y0, z};
        c->vertices.push_back(v);
    }
    return c;
}

}  // namespace zk::test
