// Animated object textures.
#pragma once

namespace zk {

void animation_update();

}  // namespace zk
