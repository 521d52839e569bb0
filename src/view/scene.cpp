#include "view/scene.h"

#include "core/log.h"
#include "art/model.h"
#include "render/camera.h"
#include "render/clump.h"
#include "view/camera.h"

namespace zk {

namespace {

RwScene* g_scene = nullptr;

}  // namespace

bool scene_init() {
    if (log_on(Trace::trace)) log_write("scene_init");
    if (g_scene) return true;
    g_scene = rw_scene_create();
    if (!g_scene) return false;
    // Light from above and a little from the side, so faces differ.
    rw_scene_add_light(g_scene, RwLight{RwLightKind::directional, 0.8f, RwV3{-0.5f, -1.0f, -0.3f}});
    rw_scene_set_ambient(g_scene, 0.4f);
    model_set_scene(g_scene);
    return true;
}

void scene_update() {
    if (g_scene) rw_camera_render(camera_current(), g_scene);
}

void scene_term() {
    if (log_on(Trace::trace)) log_write("scene_term");
    if (!g_scene) return;
    model_set_scene(nullptr);
    rw_scene_destroy(g_scene);
    g_scene = nullptr;
}

RwScene* scene_current() { return g_scene; }

}  // namespace zk
