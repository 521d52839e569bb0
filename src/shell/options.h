// The Settings sheet's Performance page, and the [performance] values.
#pragma once

namespace zk {

struct PerformancePage {
    bool avatars = true;    // "Show Multiple Avatar Types"
    bool lifeforms = true;  // "Show Avatar Animations"
    bool panning = false;   // "Enable high speed panning"
    int framerate = 5;      // 3-12 frames a second
    int visibility = 40;    // 25-120 metres
};

// Reads [performance]; missing values take their defaults.
void options_register();
PerformancePage options_performance_page();
// The page's Apply: changed check boxes are stored and written, the avatar
// set reloaded when avatars or lifeforms changed, the spins taken within
// their ranges and written, and the readers told.
void options_performance_apply(const PerformancePage& page);

}  // namespace zk
