// Cameras: a pixel size, a viewport inside it, a view window, a near
// plane, a background colour and an optional backdrop raster; the camera's
// transform places it in the world looking along its +z axis with +y up.
// Its image is drawn by the device in use (render/device.h).
#pragma once

#include <cstdint>
#include <vector>

#include "render/clump.h"
#include "render/raster.h"

namespace zk {

struct RwRect {
    int x = 0, y = 0, width = 0, height = 0;
};

// A bitmap drawn over the scene at a pixel position of the viewport (text
// of tips and balloons); kept until the next clear.
struct RwOverlay {
    RwRaster* raster = nullptr;  // owned
    int x = 0, y = 0;
};

struct RwCamera {
    int width = 0, height = 0;
    RwRect viewport;
    float window_w = 1, window_h = 1;   // half-extents of the view at distance 1
    float near_plane = 0.025f;
    float far_plane = 1000.0f;
    float bg_r = 0, bg_g = 0, bg_b = 0;
    const RwRaster* backdrop = nullptr; // not owned
    int backdrop_offset_x = 0, backdrop_offset_y = 0;
    RwRect backdrop_rect;
    RwMatrix matrix;                    // camera to world
    std::vector<RwOverlay> overlays;
    bool updating = false;
    uint64_t serial = 0;
};

// A camera of width x height pixels with the viewport covering it; none
// for sizes outside 1..16384.
RwCamera* rw_camera_create(int width, int height);
void rw_camera_destroy(RwCamera* camera);
void rw_camera_set_viewport(RwCamera* camera, int x, int y, int width, int height);
void rw_camera_set_view_window(RwCamera* camera, float w, float h);
void rw_camera_set_near(RwCamera* camera, float distance);
void rw_camera_set_background(RwCamera* camera, float r, float g, float b);
void rw_camera_set_backdrop(RwCamera* camera, const RwRaster* raster);
void rw_camera_set_backdrop_offset(RwCamera* camera, int x, int y);
void rw_camera_set_backdrop_rect(RwCamera* camera, int x, int y, int width, int height);
void rw_camera_set_matrix(RwCamera* camera, const RwMatrix& m);
RwV3 rw_camera_position(const RwCamera* camera);
RwV3 rw_camera_look_at(const RwCamera* camera);   // unit +z axis in the world

// Drawing, through the device in use (nothing happens without one).
bool rw_camera_begin_update(RwCamera* camera);
void rw_camera_clear(RwCamera* camera);
void rw_camera_render(RwCamera* camera, RwScene* scene);
void rw_camera_end_update(RwCamera* camera);
void rw_camera_show(RwCamera* camera);
void rw_camera_stretch(RwCamera* camera);
// Takes ownership of the raster.
void rw_camera_add_overlay(RwCamera* camera, RwRaster* raster, int x, int y);

// A digest of everything that decides the camera's image of the scene: the
// camera, the device, and every clump's place, shape, visibility and
// textures. An image drawn with the same digest need not be drawn again.
uint64_t rw_camera_view_signature(const RwCamera* camera, const RwScene* scene);

// The matrices the device draws with: world to camera (OpenGL eye space,
// looking down -z) and eye space to clip space.
RwMatrix rw_camera_view_matrix(const RwCamera* camera);
RwMatrix rw_camera_projection(const RwCamera* camera);

// Where a world point appears, in viewport pixels from the top left;
// false behind the near plane.
bool rw_camera_project(const RwCamera* camera, RwV3 world, float* x, float* y);

struct RwPick {
    RwClump* clump = nullptr;   // the clump holding the polygon
    int polygon = -1;
    int tag = 0;
    float distance = 0;         // along the ray, in world units
    RwV3 point;
};
// The nearest visible polygon under a viewport pixel; false over empty
// background.
bool rw_camera_pick(const RwCamera* camera, const RwScene* scene, int x, int y, RwPick* pick);

}  // namespace zk
