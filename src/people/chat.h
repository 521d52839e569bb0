// Chat.
#pragma once

namespace zk {

bool chat_init();
void chat_update();

}  // namespace zk
