// The object behavior language.
#pragma once

namespace zk {

void behavior_update();

}  // namespace zk
