// Menus and commands.
#pragma once

namespace zk {

void menu_init();
void menu_term();

}  // namespace zk
