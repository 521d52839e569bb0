#include "core/device.h"

#include "core/log.h"
#include "core/settings.h"
#include "common/messages.h"
#include "platform/ui.h"

namespace zk {

bool device_needs_warning(int bits_per_pixel, int depth_setting) {
    if (depth_setting == 1) return false;
    // Palette displays draw the scene badly; high and true colour are fine.
    return bits_per_pixel > 0 && bits_per_pixel < 15;
}

std::string device_warning_text(int bits_per_pixel) {
    return load_message(140, bits_per_pixel == 8 ? "n" : "", bits_per_pixel, product_name());
}

bool device_init() {
    if (log_on(Trace::trace)) log_write("device_init");
    const int depth = ui().screen_depth();
    if (!device_needs_warning(depth, settings_get_int("device", "depth"))) return true;
    DepthWarningAnswer answer = ui().depth_warning("Display Depth Warning!", device_warning_text(depth));
    if (answer.dont_show_again) settings_put_int("device", "depth", 1);
    return !answer.exit;
}

}  // namespace zk
