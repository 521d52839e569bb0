// Sound effects and music.
#pragma once

namespace zk {

void sndoptions_init();
void sound_init();
void sound_update();
void sound_reset();
void sound_term();

}  // namespace zk
