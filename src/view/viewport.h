// The viewport.
#pragma once

namespace zk {

bool viewport_init();
void viewport_update();

}  // namespace zk
