// The splash and About dialog.
#pragma once

namespace zk {

int about_init();
void about_hide();

}  // namespace zk
