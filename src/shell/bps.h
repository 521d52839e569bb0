// The bandwidth meter.
#pragma once

#include <cstdint>

namespace zk {

void bps_init();
void bps_update();

// Adds bytes that went over the network to the meter. Safe from any thread:
// the HTTP workers report their reads here too.
void bps_count(uint32_t bytes);
// Answers the bytes counted since the last call and starts counting anew.
uint64_t bps_take();

}  // namespace zk
