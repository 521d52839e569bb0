// The bandwidth meter.
#pragma once

namespace zk {

void bps_init();
void bps_update();

}  // namespace zk
