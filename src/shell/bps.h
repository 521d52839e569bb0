// The bandwidth meter: bytes received in each of the last ten seconds,
// shown as a mean rate in its status pane.
#pragma once

#include <cstdint>
#include <string>

namespace zk {

constexpr int kBpsPaneWeight = 12;

// Shows the pane when [show] bandwidth is 1.
void bps_init();
// The "bps" task: once a second shows the rate of the last ten seconds and
// moves on to the next slot.
void bps_update();
// The same with the millisecond tick given.
void bps_update_at(uint32_t now);
// Adds received bytes to the current second. Safe from any thread: the HTTP
// workers report their reads here too.
void bps_count(uint32_t bytes);
// Show > Bandwidth: adds or removes the pane and writes [show] bandwidth.
void bps_toggle();
bool bps_shown();
// The pane's text for `bytes` received over ten seconds ("%3.1f K/sec").
std::string bps_text(uint64_t bytes);
void bps_term();

}  // namespace zk
