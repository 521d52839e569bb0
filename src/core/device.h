// The display-depth check at start-up.
#pragma once

#include <string>

namespace zk {

// Whether to warn about a display of `bits_per_pixel`, given [device] depth
// (-1 when missing; 1 = never warn).
bool device_needs_warning(int bits_per_pixel, int depth_setting);
std::string device_warning_text(int bits_per_pixel);

// Shows the warning when needed. False when the user chose to exit.
bool device_init();

}  // namespace zk
