// The backdrop.
#pragma once

namespace zk {

void backdrop_update();
void backdrop_clear();

}  // namespace zk
