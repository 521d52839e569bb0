// The user's own movement.
#pragma once

namespace zk {

void self_init();
void self_update();
void self_release_model();
void self_create_model();
// The user's own position in world units.
void self_position(double* x, double* y, double* z);

}  // namespace zk
