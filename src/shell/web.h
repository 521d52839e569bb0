// The web pane.
#pragma once

namespace zk {

void web_init();
void web_update();
void web_term();

}  // namespace zk
