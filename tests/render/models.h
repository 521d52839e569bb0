// Shapes and bitmaps written for these tests.
#pragma once

#include <string>

#include "render/raster.h"
#include "support/temp_dir.h"

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
// twice; a disc, a sphere and a hemisphere; a wire triangle; statements
// the reader does not know, which it skips.
inline const char* kProtos = R"(ModelBegin
Hints Whatever 3
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
  Frobnicate 1 2 3
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

// Writes the textures the shapes use into `dir`: "crate" (left half red,
// right half green, 8 x 8), "cratem" (black centre: a hole), and "film"
// (3 frames of 4 x 4: red, green, blue).
inline void write_test_textures(const TempDir& dir) {
    auto save = [&](const char* name, RwRaster* r) {
        auto bytes = rw_bmp_encode(*r);
        write_file(dir.file(std::string(name) + ".bmp"), std::string(bytes.begin(), bytes.end()));
        rw_raster_destroy(r);
    };
    RwRaster* crate = rw_raster_create(8, 8, 32);
    RwRaster* mask = rw_raster_create(8, 8, 8);
    mask->palette[1] = {255, 255, 255, 255};
    for (int i = 0; i < 64; ++i) {
        const int x = i % 8, y = i / 8;
        crate->pixels[i * 4] = x < 4 ? 255 : 0;
        crate->pixels[i * 4 + 1] = x < 4 ? 0 : 255;
        crate->pixels[i * 4 + 3] = 255;
        mask->pixels[i] = (x >= 2 && x < 6 && y >= 2 && y < 6) ? 0 : 1;
    }
    save("crate", crate);
    save("cratem", mask);
    RwRaster* film = rw_raster_create(4, 12, 8);
    film->palette[0] = {255, 0, 0, 255};
    film->palette[1] = {0, 255, 0, 255};
    film->palette[2] = {0, 0, 255, 255};
    for (int i = 0; i < 48; ++i) film->pixels[i] = uint8_t(i / 16);
    save("film", film);
}

}  // namespace zk::test
