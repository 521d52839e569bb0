// The user's own movement.
#pragma once

namespace zk {

void self_init();
void self_update();
void self_release_model();
void self_create_model();

}  // namespace zk
