// The scene: every shown clump of the world and its lights, drawn once a
// frame into the camera in use.
#pragma once

namespace zk {

struct RwScene;

bool scene_init();
void scene_update();
void scene_term();
RwScene* scene_current();

}  // namespace zk
