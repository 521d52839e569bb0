// Collision.
#pragma once

namespace zk {

void collision_recompute();

}  // namespace zk
