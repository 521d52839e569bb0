// The download manager and the art cache.
#pragma once

namespace zk {

bool download_init();
void dloptions_init();
void download_update();
void download_reset();
void download_term();

}  // namespace zk
