// The backdrop: the world's panoramic sky picture, drawn behind the scene
// and scrolled with the viewing direction. A full turn scrolls its whole
// width; its lower tenth lies below the horizon.
#pragma once

#include <string>

namespace zk {

struct RwRaster;
struct RwCamera;

// World entry: another name fetches (or reads from the cache) and shows
// that picture; the current name changes nothing; empty shows none.
void backdrop_set(const std::string& name);
// Drops the pictures and tells the cameras there are none.
void backdrop_clear();
// Hands the current pictures to newly made cameras.
void backdrop_new_camera();
// The "backdrop" task: decides the half-size mode of this frame, then
// places the picture for the camera in use.
void backdrop_update();

// Places the picture of width x height pixels in `shown` for the direction
// and view of `main`; `shown` is either `main` or the half-size camera.
void backdrop_position(const RwCamera* main, RwCamera* shown, int width, int height);

// The full picture and its half-size copy, or null.
const RwRaster* backdrop_full();
const RwRaster* backdrop_half();

struct BackdropHooks {
    bool (*turning)() = nullptr;  // the user is turning this frame
};
BackdropHooks& backdrop_hooks();

}  // namespace zk
