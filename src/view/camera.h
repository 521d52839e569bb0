// The camera.
#pragma once

namespace zk {

int camera_init();
void camera_update();
void camera_begin_update();
void camera_end_update();

}  // namespace zk
