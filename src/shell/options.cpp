#include "shell/options.h"

#include <algorithm>

#include "core/log.h"
#include "core/settings.h"
#include "people/avatar.h"
#include "view/camera.h"

namespace zk {

namespace {

constexpr int kFramerateDefault = 5, kFramerateLow = 3, kFramerateHigh = 12;
constexpr int kVisibilityDefault = 40, kVisibilityLow = 25, kVisibilityHigh = 120;

int setting_or(const char* key, int fallback, int low, int high) {
    const int v = settings_get_int("performance", key);
    return v == -1 ? fallback : std::clamp(v, low, high);
}

bool panning_setting() { return settings_get_int("performance", "panning") == 1; }

}  // namespace

void options_register() {
    if (log_on(Trace::trace)) log_write("options_register");
    camera_set_panning(panning_setting());
}

PerformancePage options_performance_page() {
    PerformancePage p;
    p.avatars = avatar_multiple_types();
    p.lifeforms = avatar_animations();
    p.panning = panning_setting();
    p.framerate = setting_or("framerate", kFramerateDefault, kFramerateLow, kFramerateHigh);
    p.visibility = setting_or("visibility", kVisibilityDefault, kVisibilityLow, kVisibilityHigh);
    return p;
}

void options_performance_apply(const PerformancePage& page) {
    const PerformancePage now = options_performance_page();
    // Either avatar option changes the figures: the avatar module stores
    // both, loads its table again and makes the own figure anew.
    if (page.avatars != now.avatars || page.lifeforms != now.lifeforms)
        avatar_performance_apply(page.avatars, page.lifeforms);
    if (page.panning != now.panning) {
        settings_put_int("performance", "panning", page.panning ? 1 : 0);
        camera_set_panning(page.panning);
    }
    // The visibility manager reads both on each of its passes.
    settings_put_int("performance", "framerate", std::clamp(page.framerate, kFramerateLow, kFramerateHigh));
    settings_put_int("performance", "visibility", std::clamp(page.visibility, kVisibilityLow, kVisibilityHigh));
}

}  // namespace zk
