// Chat balloons.
#pragma once

namespace zk {

void balloon_init();
void balloon_update();

}  // namespace zk
