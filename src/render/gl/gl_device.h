// The OpenGL 3.3 core device of the rendering library. Each camera draws
// into a framebuffer of its own; `present` copies the shown camera's image
// to the window's framebuffer. Every call needs the owner's GL context
// current (the owner makes it so through `make_current`).
#pragma once

#include <cstdint>
#include <memory>

#include "render/camera.h"
#include "render/device.h"

namespace zk {

class GlDevice : public RwDevice {
public:
    GlDevice();
    ~GlDevice() override;

    // Creates the shaders; false when the context cannot run them.
    bool initialize();
    // Frees every GL object (with the context current).
    void release();

    bool begin_update(RwCamera& camera) override;
    void clear(RwCamera& camera) override;
    void render(RwCamera& camera, RwScene& scene) override;
    void end_update(RwCamera& camera) override;
    void show(RwCamera& camera, bool stretch) override;
    void clump_destroyed(uint64_t serial) override;
    void texture_destroyed(uint64_t serial) override;
    void camera_destroyed(uint64_t serial) override;
    void geometry_released(uint64_t geometry) override;

    // Copies the image last shown into `framebuffer` of width x height
    // (the whole of it); false when nothing has been shown yet.
    bool present(unsigned framebuffer, int width, int height);
    // The camera's viewport as a 32-bit raster, rows top-down (tests).
    RwRaster* read_image(const RwCamera& camera);

    // GL draw calls of the last frame, and geometry buffers built so far.
    int draw_calls() const;
    int64_t rebuilds() const;
    // Processor time of this thread that the last render spent on its own
    // walk of the scene (culling, grouping, sorting) before its first GL call.
    double walk_ms() const;
    // Texture images sent to the GPU so far.
    int64_t uploads() const;

protected:
    // Called on every entry that touches GL, and when a new image is ready
    // to be presented.
    virtual void make_current() {}
    virtual void shown() {}

private:
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace zk
