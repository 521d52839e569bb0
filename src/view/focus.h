// Focus and the description tip.
#pragma once

namespace zk {

bool focus_init();
void focus_update();

}  // namespace zk
