// The universe server connection.
#pragma once

namespace zk {

int universe_init();
void universe_update();
void universe_term();

}  // namespace zk
