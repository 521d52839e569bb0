// The drawing backend behind cameras. The library itself keeps data and
// does the arithmetic; a device (OpenGL in the viewport, or none in tests)
// turns a camera's begin/clear/render/end/show into pixels.
#pragma once

#include <cstdint>

namespace zk {

struct RwCamera;
struct RwScene;

class RwDevice {
public:
    virtual ~RwDevice() = default;
    virtual bool begin_update(RwCamera& camera) = 0;
    virtual void clear(RwCamera& camera) = 0;
    virtual void render(RwCamera& camera, RwScene& scene) = 0;
    virtual void end_update(RwCamera& camera) = 0;
    // Puts the camera's image in the view: as it is, or stretched over the
    // whole view (the half-size camera).
    virtual void show(RwCamera& camera, bool stretch) = 0;

    // Let the device free what it keeps for objects that are gone.
    virtual void clump_destroyed(uint64_t serial) = 0;
    virtual void texture_destroyed(uint64_t serial) = 0;
    virtual void camera_destroyed(uint64_t serial) = 0;
    // No clump shows that geometry (RwClump::geometry) any more.
    virtual void geometry_released(uint64_t) {}
};

// The device in use, or none. The caller keeps it alive while it is set.
void rw_set_device(RwDevice* device);
RwDevice* rw_device();
// Counts rw_set_device calls: what a device drew before is gone once it
// changes (a new GL context keeps no images).
uint64_t rw_device_generation();

}  // namespace zk
