// The ground.
#pragma once

namespace zk {

void ground_update();
void ground_release();

}  // namespace zk
