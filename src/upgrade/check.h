// The upgrade check.
#pragma once

namespace zk {

void check_for_new_upgrade();

}  // namespace zk
