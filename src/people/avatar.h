// Avatars and the avatar channel.
#pragma once

namespace zk {

int avatar_init();
void avatar_update();
void avatar_drop_all();
void avatar_reload_list();
void avatar_term();

}  // namespace zk
