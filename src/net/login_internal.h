// What the sign-in flow (login.cpp) and the dialogs' controllers
// (login_dialogs.cpp) share. Private to src/net/.
#pragma once

#include <string>

#include "net/universe.h"

namespace zk::login_detail {

// Owned by login.cpp.
// The identity's name as held: quoted for a tourist, empty when there is none.
const std::string& identity_held_name();
// Tells the menus (through the login ports) that the identity changed.
void menu_identity_changed(bool citizen);

// Owned by login_dialogs.cpp.
// Routes the replies a dialog waits for (password sent, attributes) to it.
void bind_dialog_hooks(UniverseHooks& hooks);
// Run one dialog: 0 when it set an identity (or changed the attributes),
// 1 when cancelled.
int run_login_dialog(const std::string& name, const std::string& password, int failure);
int run_immigration_dialog(int mode);
// The tourist dialog's own answer: 0, kTouristImmigrate, or cancelled.
int run_tourist_dialog();

}  // namespace zk::login_detail
