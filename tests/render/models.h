// Shapes and bitmaps written for these tests.
#pragma once

#include <string>

#include "render/raster.h"

namespace zk::test {

// A 2 x 2 x 2 box around the origin whose faces all show texture "crate"
// masked by "cratem"; the front face (z = -1) has tag 7.
inline const char* kMaskedBox = R"(# a masked crate
ModelBegin
ClumpBegin
  Color 1 1 1
  Surface 0.4 0.6 0
  Texture crate Mask cratem
  Vertex -1 -1 -1 UV 0 1
  Vertex -1  1 -1 UV 0 0
  Vertex  1  1 -1 UV 1 0
  Vertex  1 -1 -1 UV 1 1
  Vertex -1 -1  1 UV 1 1
  Vertex -1  1  1 UV 1 0
  Vertex  1  1  1 UV 0 0
  Vertex  1 -1  1 UV 0 1
  Quad 1 2 3 4 Tag 7
  Quad 8 7 6 5
  Quad 5 6 2 1
  Quad 4 3 7 8
  Quad 2 6 7 3
  Quad 5 1 4 8
ClumpEnd
ModelEnd
)";

// A figure of three clumps: a red body, a green head (tag 2) moved up, and
// a blue sign face (polygon tag 100) on the body.
inline const char* kFigure = R"(modelbegin
clumpbegin
  color 1 0 0
  surface 0.5 0.5 0
  block 1 2 1
  clumpbegin
    tag 2
    color 0 1 0
    translate 0 1.5 0
    block 0.5 0.5 0.5
  clumpend
  clumpbegin
    color 0 0 1
    vertex -0.4 0.2 -0.51
    vertex -0.4 0.8 -0.51
    vertex 0.4 0.8 -0.51
    vertex 0.4 0.2 -0.51
    quadext 1 2 3 4 tag 100
  clumpend
clumpend
modelend
)";

// Prototypes and primitives: a post made of a cylinder and a cone, placed
// twice; a disc, a sphere and a hemisphere; a wire triangle.
inline const char* kProtos = R"(ModelBegin
ProtoBegin post
  Color 0.8 0.6 0.2
  Cylinder 1 0.1 0.1 8
  TransformBegin
  Translate 0 1 0
  Cone 0.3 0.15 8
  TransformEnd
  Vertex 0 0 0
  Vertex 0.1 0 0
  Vertex 0 0.1 0
  Triangle 1 2 3 Tag 5
ProtoEnd
ClumpBegin
  TransformBegin
  Translate -1 0 0
  ProtoInstance post
  TransformEnd
  Translate 1 0 0
  ProtoInstance post
  Identity
  Disc 0 0.5 12
  Sphere 0.2 2
  Hemisphere 0.2 2
  GeometrySampling Wireframe
  Vertex 0 0 0
  Vertex 1 0 0
  Vertex 0 1 0
  Triangle 1 2 3
ClumpEnd
ModelEnd
)";

// An 8-bit raster filled with one colour per frame-sized band, or a checker.
inline RwRaster* solid_raster(int w, int h, RwRgba c) {
    RwRaster* r = rw_raster_create(w, h, 32);
    for (int i = 0; i < w * h; ++i) {
        r->pixels[size_t(i) * 4 + 0] = c.r;
        r->pixels[size_t(i) * 4 + 1] = c.g;
        r->pixels[size_t(i) * 4 + 2] = c.b;
        r->pixels[size_t(i) * 4 + 3] = 255;
    }
    return r;
}

}  // namespace zk::test
