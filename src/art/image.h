// Image conversion.
#pragma once

namespace zk {

void image_update();
void image_reset();
void image_term();

}  // namespace zk
