// The status bar.
#pragma once

namespace zk {

void status_init();

}  // namespace zk
