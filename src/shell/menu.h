// Menus and commands.
#pragma once

namespace zk {

constexpr int kCommandChangeAttributes = 142;

void menu_init();
void menu_term();
// The identity changed: items that depend on it are enabled anew.
void menu_identity_changed(bool citizen);
// Enables or disables a command's menu item and toolbar button.
void menu_set_enabled(int command, bool enabled);

}  // namespace zk
