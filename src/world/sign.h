// Signs drawn on objects.
#pragma once

namespace zk {

void sign_init();
void sign_update();

}  // namespace zk
