// What the user points at in the 3D view, and the left click there.
#pragma once

namespace zk {

struct object;
struct RwClump;

// The model instance (a root clump of the scene) under a pixel of the main
// camera's viewport, or null over empty background.
RwClump* view_instance_at(int x, int y);
// The live object showing the instance under the pixel, or null.
object* view_object_at(int x, int y);
// Left button down in the 3D view: in mover mode it only makes the mouse a
// picker; in picker mode it activates the object under the point, or ends
// the building selection when there is none.
void view_click(int x, int y);

}  // namespace zk
