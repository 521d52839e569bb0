// Telegrams.
#pragma once

namespace zk {

void telegram_init();
void telegram_update();

}  // namespace zk
