// The scene.
#pragma once

namespace zk {

bool scene_init();
void scene_update();
void scene_term();

}  // namespace zk
