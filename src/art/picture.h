// Pictures shown on objects.
#pragma once

namespace zk {

void picture_init();
void picture_update();
void picture_reset();

}  // namespace zk
