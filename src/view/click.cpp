#include "view/click.h"

#include "render/camera.h"
#include "render/clump.h"
#include "view/camera.h"
#include "view/mouse.h"
#include "view/scene.h"
#include "world/behavior.h"
#include "world/pick.h"
#include "world/visible.h"

namespace zk {

RwClump* view_instance_at(int x, int y) {
    RwPick pick;
    if (!rw_camera_pick(camera_main(), scene_current(), x, y, &pick)) return nullptr;
    // The polygon may belong to a part of the model; the instance is its root.
    RwClump* c = pick.clump;
    while (c && c->parent) c = c->parent;
    return c;
}

object* view_object_at(int x, int y) {
    const RwClump* instance = view_instance_at(x, y);
    return instance ? visible_element(instance) : nullptr;
}

void view_click(int x, int y) {
    if (mouse_is_mover()) {
        mouse_as_picker();
        return;
    }
    if (object* o = view_object_at(x, y)) behavior_activate(o);
    else pick_off();
}

}  // namespace zk
