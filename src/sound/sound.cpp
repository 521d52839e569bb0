#include "sound/sound.h"

#include "core/log.h"

namespace zk {

// Not built yet: these keep their final names so the start-up order, the
// task table and the shutdown order already call them.

void sndoptions_init() {
    if (log_on(Trace::trace)) log_write("sndoptions_init");
}

void sound_init() {
    if (log_on(Trace::trace)) log_write("sound_init");
}

void sound_update() {}

void sound_reset() {
    if (log_on(Trace::trace)) log_write("sound_reset");
}

void sound_term() {
    if (log_on(Trace::trace)) log_write("sound_term");
}

}  // namespace zk
