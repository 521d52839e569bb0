// The world server connection.
#pragma once

namespace zk {

void prop_init();
void prop_update();
void prop_term();

}  // namespace zk
