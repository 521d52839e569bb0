// Gestures.
#pragma once

namespace zk {

void gesture_init();

}  // namespace zk
